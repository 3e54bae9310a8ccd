#pragma once
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QWidget>
#include <map>

namespace xs {

// Base of every window of the system. activated() runs each time the window
// becomes the active one: MDI children learn it from the MDI area, top-level
// windows from their WindowActivate event.
class XsWindow : public QWidget {
    Q_OBJECT
public:
    explicit XsWindow(QWidget *parent = nullptr);
    virtual void activated() {}
    // An MDI child is shown inside the main window's client area; others are
    // top-level windows.
    virtual bool isMdiChild() const { return true; }
    // Resizes the client area to width x height twips.
    void setClientSizeTw(int width, int height);

protected:
    bool event(QEvent *e) override;

private:
    bool closingFrame_ = false;
};

// The single instance of each window. show<W>() creates the window when it is
// not open, shows it, and brings it forward; closing a window destroys it, so
// the next show<W>() builds it fresh. find<W>() never creates a window.
class WindowRegistry {
public:
    static void setMdiArea(QMdiArea *area);
    static QMdiArea *mdiArea();

    template <class W>
    static W *find()
    {
        return qobject_cast<W *>(findByName(W::staticMetaObject.className()));
    }

    template <class W>
    static W *show()
    {
        if (W *w = find<W>()) {
            bringToFront(w);
            return w;
        }
        W *w = new W;
        windows()[W::staticMetaObject.className()] = w;
        present(w);
        return w;
    }

    // The open window whose class is named `className` (with its namespace,
    // "xs::Form3"), for a window that
    // reads another subsystem's window without depending on its type; null
    // when it is not open.
    static QWidget *findByName(const char *className);

    // Raises and activates the window (its MDI frame for a child).
    static void bringToFront(QWidget *w);
    // Closes every open window the registry knows (tests, re-login).
    static void closeAll();

private:
    static std::map<QByteArray, QPointer<QWidget>> &windows();
    static void present(QWidget *w);
};

}  // namespace xs
