#include "platform/ui/qt/widgets.h"

#include <QAction>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>

#include "platform/ui/backend.h"
#include "platform/ui/qt/handles.h"

namespace tarvic::ui {

ComboWidget::ComboWidget(QWidget* parent, bool editable, bool sorted)
    : QComboBox(parent), m_sorted(sorted) {
    if (editable) {
        // When editing finishes (Enter, leaving the field) the box selects the entry whose
        // text was typed; typed text must never select one. Our own field lets the handlers
        // below run before and after the box's own.
        auto* edit = new QLineEdit(this);
        connect(edit, &QLineEdit::editingFinished, this, [this] { m_bFinishingEdit = true; });
        setLineEdit(edit);
        connect(edit, &QLineEdit::editingFinished, this, [this] {
            m_bFinishingEdit = false;
            if (m_sel < 0 && currentIndex() >= 0) {
                const QString typed = currentText();
                const QSignalBlocker quiet(this);
                setCurrentIndex(-1);
                setEditText(typed);
            }
        });
        setCompleter(nullptr);
        connect(edit, &QLineEdit::textEdited, this, [this] { m_sel = -1; });
    }
    setInsertPolicy(QComboBox::NoInsert);
    setDuplicatesEnabled(true);
    connect(this, &QComboBox::activated, this, [this](int index) {
        if (!m_bFinishingEdit) {
            m_sel = index;
        }
    });
}

int ComboWidget::Add(const QString& text) {
    int index = count();
    if (m_sorted) {
        index = 0;
        while (index < count() &&
               QString::compare(itemText(index), text, Qt::CaseInsensitive) <= 0) {
            ++index;
        }
    }
    const QString typed = currentText();
    const QSignalBlocker quiet(this);
    insertItem(index, text);
    if (m_sel >= index) {
        ++m_sel;
    }
    // Adding an entry never selects one (Qt would select the first entry of an empty list).
    if (currentIndex() != m_sel) {
        setCurrentIndex(m_sel);
    }
    if (m_sel < 0 && isEditable()) {
        setEditText(typed);
    }
    return index;
}

int ComboWidget::Select(int index) {
    if (index < 0 || index >= count()) {
        setCurrentIndex(-1);
        m_sel = -1;
        return CB_ERR;
    }
    setCurrentIndex(index);
    m_sel = index;
    return index;
}

ListWidget::ListWidget(QWidget* parent, bool sorted) : QListWidget(parent), m_sorted(sorted) {
    QScrollBar* bar = verticalScrollBar();
    // At the end it stays at the end as the range grows (new entries, or the list shown
    // for the first time); anywhere else it stays where the user put it.
    connect(bar, &QScrollBar::valueChanged, this,
            [this, bar](int value) { m_bFollowEnd = value >= bar->maximum(); });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        if (m_bFollowEnd) {
            bar->setValue(maximum);
        }
    });
}

QString SystemMenuItemName(UINT id) {
    return QStringLiteral("sysmenu_%1").arg(id);
}

int ListWidget::Add(const QString& text) {
    int index = count();
    if (m_sorted) {
        index = 0;
        while (index < count() &&
               QString::compare(item(index)->text(), text, Qt::CaseInsensitive) <= 0) {
            ++index;
        }
    }
    insertItem(index, text);
    return index;
}

DialogWindow::DialogWindow(CDialog* owner, QWidget* parent) : QDialog(parent), m_owner(owner) {}

void DialogWindow::reject() {
    if (m_owner) {
        UiBackend::Cancel(m_owner);
    }
}

void DialogWindow::accept() {
    if (m_owner) {
        UiBackend::Command(m_owner, IDOK);
    }
}

void DialogWindow::keyPressEvent(QKeyEvent* e) {
    const QKeySequence pressed(e->keyCombination());
    for (QAction* action : actions()) {
        if (!action->shortcut().isEmpty() && action->shortcut() == pressed && action->isEnabled()) {
            action->trigger();
            return;
        }
    }
    QDialog::keyPressEvent(e);
}

void DialogWindow::paintEvent(QPaintEvent* e) {
    if (m_owner) {
        UiBackend::Dispatch(m_owner, WM_PAINT, 0, 0);
    } else {
        QDialog::paintEvent(e);
    }
}

QString ShownText(const QWidget* w) {
    if (!w) {
        return QString();
    }
    if (auto* edit = qobject_cast<const QLineEdit*>(w)) {
        return edit->text();
    }
    if (auto* combo = qobject_cast<const QComboBox*>(w)) {
        return combo->currentText();
    }
    if (auto* button = qobject_cast<const QPushButton*>(w)) {
        return button->text();
    }
    if (auto* label = qobject_cast<const QLabel*>(w)) {
        return label->text();
    }
    return w->isWindow() ? w->windowTitle() : QString();
}

void SetWindowIcons(QWidget* w, HICON big, HICON small) {
    QIcon icon;
    if (const IconData* b = ToIcon(big)) {
        icon.addPixmap(QPixmap::fromImage(b->large));
    }
    if (const IconData* s = ToIcon(small)) {
        icon.addPixmap(QPixmap::fromImage(s->small));
    }
    w->setWindowIcon(icon);
}

}  // namespace tarvic::ui
