// The wait cursor for the life of the object (long operations on the GUI thread).
#pragma once

#include <QApplication>
#include <QCursor>

namespace ys::gui {

class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace ys::gui
