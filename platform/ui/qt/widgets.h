// The Qt widgets behind the framework's combo boxes, list boxes and dialog windows.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QListWidget>

#include "platform/ui/framework.h"

namespace tarvic::ui {

// A combo box keeps its selection the way the dialog code expects it: none until one is
// chosen, none again once the user types into the field.
class ComboWidget : public QComboBox {
  public:
    ComboWidget(QWidget* parent, bool editable, bool sorted);
    int Add(const QString& text);
    int Select(int index);
    int Selection() const { return m_sel; }

  private:
    bool m_sorted;
    int m_sel = -1;
    bool m_bFinishingEdit = false;  // the field's editing is being finished
};

// A list box shows its newest entry as entries come, unless the user has scrolled away
// from the end.
class ListWidget : public QListWidget {
  public:
    ListWidget(QWidget* parent, bool sorted);
    int Add(const QString& text);

  private:
    bool m_sorted;
    bool m_bFollowEnd = true;
};

// The object name of a window's system-menu item (a QAction of the window).
QString SystemMenuItemName(UINT id);

// The top-level window of a CDialog: routes Esc and the close box to OnCancel and the
// paint event to the dialog's WM_PAINT handling.
class DialogWindow : public QDialog {
  public:
    DialogWindow(CDialog* owner, QWidget* parent);
    void Detach() { m_owner = nullptr; }

  protected:
    void reject() override;
    void accept() override;
    void paintEvent(QPaintEvent* e) override;
    // The keys of the window's system-menu items, when the window's shortcut has not taken
    // them (it takes them only while the window is the active one).
    void keyPressEvent(QKeyEvent* e) override;

  private:
    CDialog* m_owner;
};

// What the widget shows as its text: an edit field's or a combo box's field, a button's or a
// label's text, a window's title; empty for anything else.
QString ShownText(const QWidget* w);

// Gives the window the icons' images (either may be nullptr).
void SetWindowIcons(QWidget* w, HICON big, HICON small);

}  // namespace tarvic::ui
