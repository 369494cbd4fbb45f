#ifndef KORVANE_BUSYCURSOR_H
#define KORVANE_BUSYCURSOR_H

#include <QApplication>
#include <QCursor>

// Shows the busy cursor over the whole application while it lives.
class BusyCursor {
  public:
    BusyCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

#endif
