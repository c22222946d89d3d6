// Alerts: the nested loop returns the pressed button's answer, and the
// window manager's close answers 0.
#include "x11_support.h"

#include <Xm/MessageB.h>
#include <Xm/Protocols.h>

#include "app/alert.h"

TEST(Alert, ReturnsTheAnswerOfThePressedButton)
{
    AlertSeen seen;
    answer_next_alert("Overwrite", &seen);
    int answer = AlertPrompt(app_shell, ALERT_TYPE, XmDIALOG_QUESTION, ALERT_TITLE, "Lumora - Save",
                             ALERT_STYLE, XmDIALOG_FULL_APPLICATION_MODAL, ALERT_MESSAGE,
                             "The file exists.\nOverwrite it?", ALERT_BUTTON, 0, "Cancel",
                             ALERT_BUTTON, 1, "Overwrite", 0);
    EXPECT_EQ(answer, 1);
    EXPECT_TRUE(seen.seen);
    EXPECT_EQ(seen.title, "Lumora - Save");
    EXPECT_EQ(seen.message, "The file exists.\nOverwrite it?");
    EXPECT_EQ(newest_alert(), nullptr) << "the alert is destroyed";
}

namespace {
void CloseTimer(XtPointer, XtIntervalId *)
{
    Widget dialog = newest_alert();
    if (dialog == nullptr) {
        XtAppAddTimeOut(app_context, 20, CloseTimer, nullptr);
        return;
    }
    // What the window manager sends when the user closes the window.
    Widget shell = XtParent(dialog);
    XClientMessageEvent ev = {};
    ev.type = ClientMessage;
    ev.display = XtDisplay(shell);
    ev.window = XtWindow(shell);
    ev.message_type = XmInternAtom(ev.display, const_cast<char *>("WM_PROTOCOLS"), False);
    ev.format = 32;
    ev.data.l[0] = static_cast<long>(XmInternAtom(ev.display, const_cast<char *>("WM_DELETE_WINDOW"), False));
    ev.data.l[1] = CurrentTime;
    XSendEvent(ev.display, ev.window, False, NoEventMask, reinterpret_cast<XEvent *>(&ev));
}
} // namespace

TEST(Alert, ClosingTheWindowAnswersZero)
{
    XtAppAddTimeOut(app_context, 20, CloseTimer, nullptr);
    int answer = AlertPrompt(app_shell, ALERT_TYPE, XmDIALOG_ERROR, ALERT_MESSAGE, "Refused.",
                             ALERT_BUTTON, 7, "Continue", 0);
    EXPECT_EQ(answer, 0);
}
