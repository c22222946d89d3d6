// alert.cc - modal alerts and dialog showing.
#include "app/alert.h"

#include <Xm/DialogS.h>
#include <Xm/List.h>
#include <Xm/MessageB.h>
#include <Xm/Protocols.h>
#include <Xm/PushBG.h>
#include <Xm/Xm.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/corvat.h"
#include "dialogs/help.h"
#include "dialogs/popup.h"

namespace {

// The answer of the alert being shown; -1 while none has been given.
int response = -1;

void ButtonCallback(Widget w, XtPointer, XtPointer)
{
    XtPointer data = nullptr;
    XtVaGetValues(w, XmNuserData, &data, nullptr);
    response = static_cast<int>(reinterpret_cast<intptr_t>(data));
}

void DialogQuitHandler(Widget, XtPointer, XtPointer)
{
    response = 0;
}

struct AlertDesc {
    int type = XmDIALOG_ERROR;
    const char *title = nullptr;
    int style = -1;
    int list_lines = 0;
    std::vector<std::string> list_text;
    const char *message = nullptr;
    std::vector<std::pair<int, const char *>> buttons;
    const char *help = nullptr;
};

// Returns the alert described by the key/value list.
AlertDesc read_keys(va_list ap)
{
    AlertDesc alert;
    for (int key = va_arg(ap, int); key != 0; key = va_arg(ap, int)) {
        switch (key) {
        case ALERT_TYPE: alert.type = va_arg(ap, int); break;
        case ALERT_TITLE: alert.title = va_arg(ap, const char *); break;
        case ALERT_STYLE: alert.style = va_arg(ap, int); break;
        case ALERT_LIST_LINES: alert.list_lines = va_arg(ap, int); break;
        case ALERT_LIST_TEXT: {
            std::string text = va_arg(ap, const char *);
            size_t start = 0;
            for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
                alert.list_text.push_back(text.substr(start, nl - start));
            if (start < text.size())
                alert.list_text.push_back(text.substr(start));
            break;
        }
        case ALERT_MESSAGE: alert.message = va_arg(ap, const char *); break;
        case ALERT_BUTTON: {
            int answer = va_arg(ap, int);
            alert.buttons.emplace_back(answer, va_arg(ap, const char *));
            break;
        }
        case ALERT_HELP: alert.help = va_arg(ap, const char *); break;
        default: return alert; // an unknown key ends the list: its value's type is unknown
        }
    }
    return alert;
}

void HelpButtonCallback(Widget w, XtPointer client, XtPointer)
{
    help_dispatch(w, static_cast<const char *>(client));
}

} // namespace

Widget alert_parent()
{
    return app_shell;
}

int AlertPrompt(Widget parent, ...)
{
    va_list ap;
    va_start(ap, parent);
    AlertDesc alert = read_keys(ap);
    va_end(ap);

    if (parent == nullptr) {
        if (alert.message != nullptr)
            std::fprintf(stderr, "%s\n", alert.message);
        return alert.buttons.empty() ? 0 : alert.buttons.front().first;
    }

    Arg args[2];
    XtSetArg(args[0], XmNdialogType, alert.type);
    Widget dialog = XmCreateMessageDialog(parent, const_cast<char *>("DialogPopup"), args, 1);
    Widget shell = XtParent(dialog);
    Atom wm_delete = XmInternAtom(XtDisplay(shell), const_cast<char *>("WM_DELETE_WINDOW"), False);
    XtVaSetValues(shell, XmNdeleteResponse, XmDO_NOTHING, nullptr);
    XmAddWMProtocolCallback(shell, wm_delete, DialogQuitHandler, nullptr);
    if (alert.title != nullptr)
        XtVaSetValues(shell, XmNtitle, alert.title, nullptr);
    if (alert.style >= 0)
        XtVaSetValues(dialog, XmNdialogStyle, alert.style, nullptr);
    if (alert.list_lines > 0) {
        XtSetArg(args[0], XmNvisibleItemCount, alert.list_lines);
        Widget list = XmCreateScrolledList(dialog, const_cast<char *>("ScrolledList"), args, 1);
        for (const std::string &line : alert.list_text) {
            XmString item = XmStringCreateLocalized(const_cast<char *>(line.c_str()));
            XmListAddItemUnselected(list, item, 0);
            XmStringFree(item);
        }
        XtManageChild(list);
    }
    if (alert.message != nullptr) {
        XmString text = XmStringCreateLtoR(const_cast<char *>(alert.message),
                                           const_cast<char *>(XmFONTLIST_DEFAULT_TAG));
        XtVaSetValues(dialog, XmNmessageString, text, nullptr);
        XmStringFree(text);
    }
    for (const auto &[answer, label] : alert.buttons) {
        XmString text = XmStringCreateLocalized(const_cast<char *>(label));
        Widget b = XtVaCreateManagedWidget(label, xmPushButtonGadgetClass, dialog, XmNlabelString,
                                           text, XmNuserData,
                                           reinterpret_cast<XtPointer>(static_cast<intptr_t>(answer)),
                                           nullptr);
        XmStringFree(text);
        XtAddCallback(b, XmNactivateCallback, ButtonCallback, nullptr);
    }
    XtUnmanageChild(XmMessageBoxGetChild(dialog, XmDIALOG_OK_BUTTON));
    XtUnmanageChild(XmMessageBoxGetChild(dialog, XmDIALOG_CANCEL_BUTTON));
    Widget help = XmMessageBoxGetChild(dialog, XmDIALOG_HELP_BUTTON);
    if (alert.help != nullptr && help_available())
        XtAddCallback(help, XmNactivateCallback, HelpButtonCallback,
                      const_cast<char *>(alert.help));
    else
        XtUnmanageChild(help);

    XtManageChild(dialog);
    Display *dpy = XtDisplay(shell);
    XBell(dpy, 0);
    XSync(dpy, False);
    XtPopup(shell, XtGrabNone);
    int saved = response;
    response = -1;
    while (response == -1)
        process_one_event();
    int answer = response;
    response = saved;
    XtDestroyWidget(shell);
    XSync(dpy, False);
    return answer;
}

void ShowDialog(Widget dialog, int showing)
{
    Widget shell = XtParent(dialog);
    if (!showing) {
        // Managing the dialog realises its shell; it is placed beside the
        // main window before it first appears.
        XtVaSetValues(dialog, XmNmappedWhenManaged, False, nullptr);
        XtManageChild(dialog);
        PositionPopup(shell);
        XtVaSetValues(dialog, XmNmappedWhenManaged, True, nullptr);
    }
    XtManageChild(dialog);
    XtPopup(shell, XtGrabNone);
}

void DismissDialog(Widget dialog)
{
    XtPopdown(XtParent(dialog));
}

void PopupEventHandler(Widget, XtPointer client, XEvent *event, Boolean *)
{
    int *showing = static_cast<int *>(client);
    if (event->type == MapNotify)
        *showing = 1;
    else if (event->type == UnmapNotify)
        *showing = 0;
}

char *ConvertCompoundToChar(XmString string, char *buffer, size_t size)
{
    if (size == 0)
        return buffer;
    buffer[0] = '\0';
    size_t used = 0;
    auto append = [&](const char *text) {
        size_t n = std::strlen(text);
        if (used + n >= size)
            n = size - 1 - used;
        std::memcpy(buffer + used, text, n);
        used += n;
        buffer[used] = '\0';
    };
    XmStringContext context;
    if (string == nullptr || !XmStringInitContext(&context, string))
        return buffer;
    char *text = nullptr;
    XmStringCharSet charset = nullptr;
    XmStringDirection direction;
    Boolean separator = False;
    while (XmStringGetNextSegment(context, &text, &charset, &direction, &separator)) {
        append(text);
        if (separator)
            append("\n");
        XtFree(text);
        XtFree(charset);
        text = nullptr;
        charset = nullptr;
    }
    XmStringFreeContext(context);
    return buffer;
}
