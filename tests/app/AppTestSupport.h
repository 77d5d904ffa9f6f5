// Shared support of the GUI tests: one QApplication for the whole run, a recorder for the
// application's error and message displays, and helpers that drive modal dialogs.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "contract/EventLoop.h"

namespace apptest {

// What reached the application's displays during a test.
struct Shown {
    std::vector<std::string> errors;
    std::vector<std::string> messages;
};
Shown& Recorded();
// Installs the recorder in place of the message boxes and clears it.
void RecordDisplays();

// Calls fn(widget) once a modal widget whose type is T (or any when T = QWidget) is active;
// gives up after timeoutMs. The call returns at once; fn runs inside the modal loop.
void WhenModal(std::function<void(QWidget*)> fn, int timeoutMs = 5000);

// WhenModal for a dialog of class D: the case fails when the modal widget is another.
template <class D>
void WhenDialog(std::function<void(D*)> fn, int timeoutMs = 5000) {
    WhenModal(
        [fn = std::move(fn)](QWidget* w) {
            auto* dlg = qobject_cast<D*>(w);
            ASSERT_NE(dlg, nullptr);
            fn(dlg);
        },
        timeoutMs);
}

// Processes events until pred() holds or the time is up; returns pred().
bool ProcessUntil(const std::function<bool()>& pred, int timeoutMs = 5000);
void ProcessFor(int ms);

}  // namespace apptest
