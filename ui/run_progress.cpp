#include "ui/run_progress.h"

#include "ui/widgets.h"

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <thread>

namespace temra::ui {

namespace {

// Holds back the user's input to Temra's windows while a computation runs, except
// for the progress window. A window's close is refused meanwhile.
class InputHold : public QObject {
  public:
    InputHold() { qApp->installEventFilter(this); }
    ~InputHold() override { qApp->removeEventFilter(this); }
    QPointer<QWidget> allowed;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::Close:
            if (!watched->isWidgetType() || Allowed(watched)) return false;
            event->ignore();
            return true;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::Wheel:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::ContextMenu:
            // Events reach a window first and its widgets next: the widgets decide.
            return watched->isWidgetType() && !Allowed(watched);
        default:
            return false;
        }
    }

  private:
    bool Allowed(QObject* watched) const {
        auto* w = static_cast<QWidget*>(watched);
        return allowed && (w == allowed || allowed->isAncestorOf(w));
    }
};

// The window that tells how far a long computation is and offers Cancel.
class RunProgress : public QDialog {
  public:
    RunProgress(const QString& what, QWidget* parent, RunControl& control)
        : QDialog(parent), control_(control) {
        setObjectName("RunProgress");
        setWindowTitle("Temra");
        setModal(true);
        label_ = new QLabel(what, this);
        bar_ = new QProgressBar(this);
        bar_->setRange(0, 1000);
        auto* cancel = new QPushButton(tr("Cancel"), this);
        cancel->setObjectName("Cancel");
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(label_);
        layout->addWidget(bar_);
        layout->addWidget(cancel, 0, Qt::AlignRight);
        connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
        setMinimumWidth(360);
    }
    void Update() { bar_->setValue(static_cast<int>(control_.Fraction() * 1000)); }

    // Cancel, Escape and the window's close all cancel the computation.
    void reject() override {
        control_.Cancel();
        label_->setText(tr("Cancelling…"));
    }

  private:
    RunControl& control_;
    QLabel* label_;
    QProgressBar* bar_;
};

} // namespace

std::exception_ptr RunWithProgress(QWidget* parent, const QString& what, RunControl& control,
                                   const std::function<void(RunControl&)>& work) {
    std::exception_ptr failure;
    InputHold hold;
    BusyCursor busy;
    QEventLoop loop;
    std::thread worker([&] {
        try {
            work(control);
        } catch (...) {
            failure = std::current_exception();
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    // The progress window, after about a second.
    RunProgress progress(what, parent, control);
    hold.allowed = &progress;
    QTimer appear;
    appear.setSingleShot(true);
    QObject::connect(&appear, &QTimer::timeout, &progress, [&] {
        QGuiApplication::setOverrideCursor(Qt::ArrowCursor); // the progress window is live
        progress.show();
    });
    appear.start(1000);
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &progress, [&] { progress.Update(); });
    tick.start(100);
    loop.exec();
    worker.join();
    if (progress.isVisible()) QGuiApplication::restoreOverrideCursor();
    return failure;
}

} // namespace temra::ui
