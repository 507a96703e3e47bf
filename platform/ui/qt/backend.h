// What the Qt implementation of the framework shares between its files.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QImage>
#include <QListWidget>
#include <QPainter>

#include "platform/ui/framework.h"
#include "platform/ui/resource_script.h"

namespace ui {

// The images behind an HICON. Icons live as long as the program; QImage needs no
// application object, so they can outlive it safely.
struct IconData {
    QImage large;  // SM_CXICON x SM_CYICON
    QImage small;
};

inline HWND ToHwnd(QWidget* w) {
    return reinterpret_cast<HWND>(w);
}
inline QWidget* ToWidget(HWND h) {
    return reinterpret_cast<QWidget*>(h);
}
inline HICON ToHicon(const IconData* i) {
    return reinterpret_cast<HICON>(const_cast<IconData*>(i));
}
inline const IconData* ToIcon(HICON h) {
    return reinterpret_cast<const IconData*>(h);
}
inline HDC ToHdc(QPainter* p) {
    return reinterpret_cast<HDC>(p);
}
inline QPainter* ToPainter(HDC h) {
    return reinterpret_cast<QPainter*>(h);
}

// The application's embedded resource script, read once.
const rc::Script& AppResources();
const IconData* LoadAppIcon(int id);

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

class ListWidget : public QListWidget {
  public:
    ListWidget(QWidget* parent, bool sorted) : QListWidget(parent), m_sorted(sorted) {}
    int Add(const QString& text);

  private:
    bool m_sorted;
};

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

  private:
    CDialog* m_owner;
};

// Friend of the framework classes: the back end's access to their internals.
struct UiBackend {
    static HWND& Hwnd(CWnd* w) { return w->m_hWnd; }
    static void SetId(CWnd* w, int id) { w->m_nID = id; }
    static std::vector<std::unique_ptr<CWnd>>& Controls(CWnd* w) { return w->m_controls; }
    static LRESULT Dispatch(CWnd* w, UINT msg, WPARAM wp, LPARAM lp) {
        return w->WindowProc(msg, wp, lp);
    }
    static void Command(CDialog* d, int id);
    static void Cancel(CDialog* d) { Command(d, IDCANCEL); }
};

// Converts dialog units with the font's metrics, as the Windows dialog manager does.
struct DialogUnits {
    explicit DialogUnits(const QFont& font);
    int X(int du) const;
    int Y(int du) const;
    int baseX;  // average character width
    int baseY;  // character height
};

// The template's font, or the nearest installed one.
QFont DialogFont(const rc::Dialog& d);

}  // namespace ui
