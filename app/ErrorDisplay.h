// The application's standard error display: every exception that reaches a command, a button, a
// dialog or a toolkit message handler is shown in one message box and never ends the program.
// The silent abort (EAbort) shows nothing.
#pragma once

#include <QApplication>
#include <QString>
#include <exception>
#include <string>

#include "runtime/Exception.h"

// A text that cannot be converted to the number an input box asks for.
class EConvertError : public velqor::Exception {
  public:
    using velqor::Exception::Exception;
};

// Routes the toolkit's exception and message displays to message boxes on the GUI thread.
void InstallErrorDisplay();
// Shows an exception as the application does (through the toolkit's installable hook).
void ShowExceptionBox(const std::exception& e);
// Shows a plain message to the user (ShowMessage).
void ShowMessageText(const QString& text);

// Runs fn; an exception leaving it is shown and swallowed. Used around every handler.
template <class F>
void Guarded(F&& fn) {
    try {
        fn();
    } catch (const std::exception& e) {
        ShowExceptionBox(e);
    } catch (...) {
        ShowExceptionBox(velqor::Exception("unknown exception"));
    }
}

// The application object: also catches what an event handler lets escape, as a last resort.
class TagscopeApplication : public QApplication {
  public:
    TagscopeApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
