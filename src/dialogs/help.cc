// help.cc - the help viewer ("MainHelpDialog"), item help and the About box.
//
// Help topics live in the help volume folder share/orvimage/help/<volume>,
// one file per help location, "<location>.txt": its first line is the
// topic's title, the rest its text.  The viewer lists the volume's topics
// beside the one shown.
#include "dialogs/help.h"

#include <X11/cursorfont.h>
#include <Xm/DialogS.h>
#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/List.h>
#include <Xm/MessageB.h>
#include <Xm/PushB.h>
#include <Xm/Separator.h>
#include <Xm/Text.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/alert.h"
#include "app/corvat.h"
#include "app/menus.h"
#include "app/msg.h"
#include "app/paths.h"
#include "app/ui_corvat.h"
#include "image/canvas.h"

namespace {

struct Topic {
    std::string location;
    std::string title;
};

struct HelpDialog {
    Widget shell = nullptr;
    Widget form = nullptr;      // "MainHelpDialog"
    Widget title = nullptr;
    Widget text = nullptr;
    Widget list = nullptr;
    int showing = 0;
    std::string volume;
    std::string location;
    std::vector<Topic> topics;
};
HelpDialog help;

Widget about_dialog = nullptr;
int about_showing = 0;

std::string volume_dir(const std::string &volume)
{
    return share_dir() + "/help/" + volume;
}

// Reads a topic; false when the volume has no such location.
bool read_topic(const std::string &volume, const std::string &location, std::string *title,
                std::string *body)
{
    std::ifstream in(volume_dir(volume) + "/" + location + ".txt");
    if (!in)
        return false;
    std::getline(in, *title);
    std::stringstream ss;
    ss << in.rdbuf();
    *body = ss.str();
    while (!body->empty() && (body->front() == '\n'))
        body->erase(body->begin());
    return true;
}

// Returns the volume's topics sorted by title, the home topic first.
std::vector<Topic> volume_topics(const std::string &volume)
{
    std::vector<Topic> topics;
    DIR *d = opendir(volume_dir(volume).c_str());
    if (d == nullptr)
        return topics;
    while (struct dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (name.size() < 5 || name.compare(name.size() - 4, 4, ".txt") != 0)
            continue;
        Topic t;
        t.location = name.substr(0, name.size() - 4);
        std::string body;
        if (read_topic(volume, t.location, &t.title, &body))
            topics.push_back(t);
    }
    closedir(d);
    std::sort(topics.begin(), topics.end(), [](const Topic &a, const Topic &b) {
        if ((a.location == "_HOMETOPIC") != (b.location == "_HOMETOPIC"))
            return a.location == "_HOMETOPIC";
        return a.title < b.title;
    });
    return topics;
}

void show_topic(const std::string &volume, const std::string &location);

void TopicSelected(Widget, XtPointer, XtPointer call)
{
    auto *cb = static_cast<XmListCallbackStruct *>(call);
    size_t i = static_cast<size_t>(cb->item_position - 1);
    if (i < help.topics.size())
        show_topic(help.volume, help.topics[i].location);
}

void HelpCloseCallback(Widget, XtPointer, XtPointer)
{
    XtPopdown(help.shell);
}

void HomeCallback(Widget, XtPointer, XtPointer)
{
    show_topic(help.volume, "_HOMETOPIC");
}

// Builds the help dialog on first use.
void create_help_dialog()
{
    if (help.shell != nullptr)
        return;
    help.shell = XtVaCreatePopupShell("MainHelpDialog_popup", xmDialogShellWidgetClass, app_shell,
                                      XmNtitle, catmsg(1, 501, "Lumora Help"), XmNallowShellResize,
                                      True, XmNdeleteResponse, XmUNMAP, nullptr);
    help.form = XtVaCreateWidget("MainHelpDialog", xmFormWidgetClass, help.shell, XmNwidth, 640,
                                 XmNheight, 440, XmNfractionBase, 10, nullptr);
    XmString s = XmStringCreateLocalized(const_cast<char *>(catmsg(1, 2, "Close")));
    Widget close = XtVaCreateManagedWidget("CloseButton", xmPushButtonWidgetClass, help.form,
                                           XmNlabelString, s, XmNbottomAttachment, XmATTACH_FORM,
                                           XmNbottomOffset, 8, XmNrightAttachment, XmATTACH_FORM,
                                           XmNrightOffset, 8, nullptr);
    XmStringFree(s);
    s = XmStringCreateLocalized(const_cast<char *>(catmsg(1, 502, "Home Topic")));
    Widget home = XtVaCreateManagedWidget("HomeButton", xmPushButtonWidgetClass, help.form,
                                          XmNlabelString, s, XmNbottomAttachment, XmATTACH_FORM,
                                          XmNbottomOffset, 8, XmNleftAttachment, XmATTACH_FORM,
                                          XmNleftOffset, 8, nullptr);
    XmStringFree(s);
    XtAddCallback(close, XmNactivateCallback, HelpCloseCallback, nullptr);
    XtAddCallback(home, XmNactivateCallback, HomeCallback, nullptr);
    Widget sep = XtVaCreateManagedWidget("Separator", xmSeparatorWidgetClass, help.form,
                                         XmNleftAttachment, XmATTACH_FORM, XmNrightAttachment,
                                         XmATTACH_FORM, XmNbottomAttachment, XmATTACH_WIDGET,
                                         XmNbottomWidget, close, XmNbottomOffset, 8, nullptr);
    Arg args[2];
    XtSetArg(args[0], XmNselectionPolicy, XmBROWSE_SELECT);
    help.list = XmCreateScrolledList(help.form, const_cast<char *>("TopicList"), args, 1);
    XtVaSetValues(XtParent(help.list), XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 8,
                  XmNtopAttachment, XmATTACH_FORM, XmNtopOffset, 8, XmNbottomAttachment,
                  XmATTACH_WIDGET, XmNbottomWidget, sep, XmNbottomOffset, 8, XmNrightAttachment,
                  XmATTACH_POSITION, XmNrightPosition, 3, nullptr);
    XtAddCallback(help.list, XmNbrowseSelectionCallback, TopicSelected, nullptr);
    XtManageChild(help.list);
    help.title = XtVaCreateManagedWidget("TopicTitle", xmLabelWidgetClass, help.form,
                                         XmNalignment, XmALIGNMENT_BEGINNING, XmNtopAttachment,
                                         XmATTACH_FORM, XmNtopOffset, 8, XmNleftAttachment,
                                         XmATTACH_POSITION, XmNleftPosition, 3, XmNleftOffset, 8,
                                         XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 8, nullptr);
    XtSetArg(args[0], XmNeditMode, XmMULTI_LINE_EDIT);
    XtSetArg(args[1], XmNeditable, False);
    help.text = XmCreateScrolledText(help.form, const_cast<char *>("TopicText"), args, 2);
    XtVaSetValues(help.text, XmNwordWrap, True, XmNscrollHorizontal, False, XmNcursorPositionVisible,
                  False, nullptr);
    XtVaSetValues(XtParent(help.text), XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, help.title,
                  XmNtopOffset, 4, XmNleftAttachment, XmATTACH_POSITION, XmNleftPosition, 3,
                  XmNleftOffset, 8, XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 8,
                  XmNbottomAttachment, XmATTACH_WIDGET, XmNbottomWidget, sep, XmNbottomOffset, 8,
                  nullptr);
    XtManageChild(help.text);
    XtAddEventHandler(help.shell, StructureNotifyMask, False, PopupEventHandler, &help.showing);
}

void show_topic(const std::string &volume, const std::string &location)
{
    create_help_dialog();
    std::string title, body;
    std::string shown = location;
    if (!read_topic(volume, location, &title, &body)) {
        shown = "_HOMETOPIC";
        if (!read_topic(volume, shown, &title, &body)) {
            title = catmsg(1, 501, "Lumora Help");
            body = catmsg(1, 503, "The help volume is not installed.");
        }
    }
    if (help.volume != volume) {
        help.volume = volume;
        help.topics = volume_topics(volume);
        XmListDeleteAllItems(help.list);
        for (const Topic &t : help.topics) {
            XmString item = XmStringCreateLocalized(const_cast<char *>(t.title.c_str()));
            XmListAddItemUnselected(help.list, item, 0);
            XmStringFree(item);
        }
    }
    help.location = shown;
    XmString s = XmStringCreateLocalized(const_cast<char *>(title.c_str()));
    XtVaSetValues(help.title, XmNlabelString, s, nullptr);
    XmStringFree(s);
    XmTextSetString(help.text, const_cast<char *>(body.c_str()));
    XmTextSetTopCharacter(help.text, 0);
    for (size_t i = 0; i < help.topics.size(); i++)
        if (help.topics[i].location == shown) {
            XmListSelectPos(help.list, static_cast<int>(i) + 1, False);
            XmListSetPos(help.list, std::max(1, static_cast<int>(i) - 2));
        }
    ShowDialog(help.form, help.showing);
}

void AboutCancelCallback(Widget, XtPointer, XtPointer)
{
    XtPopdown(XtParent(about_dialog));
}

} // namespace

bool help_available()
{
    struct stat st;
    return stat(volume_dir("Orvimage").c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void help_dispatch(Widget, const char *location)
{
    setbusy();
    show_topic("Orvimage", location != nullptr ? location : "_HOMETOPIC");
    setactive();
}

const char *help_current_location()
{
    return help.shell != nullptr && help.showing ? help.location.c_str() : nullptr;
}

void HelpItemCallback(Widget w, XtPointer client, XtPointer)
{
    help_dispatch(w, static_cast<const char *>(client));
}

void HelpMenuCallback(Widget, XtPointer client, XtPointer)
{
    setbusy();
    switch (reinterpret_cast<intptr_t>(client)) {
    case 7003: show_topic("Orvimage", "TASKS"); break;
    case 7004: show_topic("Orvimage", "REFERENCE"); break;
    case 7007: show_topic("Help4Help", "_HOMETOPIC"); break;
    default: show_topic("Orvimage", "_HOMETOPIC"); break;
    }
    setactive();
}

Widget help_ancestor_with_help(Widget w)
{
    while (w != nullptr && XtHasCallbacks(w, XmNhelpCallback) != XtCallbackHasSome)
        w = XtParent(w);
    return w;
}

void HelpOnItemCallback(Widget, XtPointer, XtPointer)
{
    if (base == nullptr)
        return;
    static Cursor question = 0;
    Display *dpy = XtDisplay(base->shell);
    if (question == 0)
        question = XCreateFontCursor(dpy, XC_question_arrow);
    XEvent event;
    Widget picked = XmTrackingEvent(base->main_window, question, False, &event);
    if (event.type == KeyPress) {
        std::fputs(catmsg(1, 64, "Selection aborted by user.\n"), stderr);
        return;
    }
    if (picked == nullptr) {
        AlertPrompt(alert_parent(), ALERT_TYPE, XmDIALOG_ERROR, ALERT_TITLE,
                    catmsg(1, 501, "Lumora Help"), ALERT_STYLE, XmDIALOG_FULL_APPLICATION_MODAL,
                    ALERT_MESSAGE, catmsg(1, 504, "You must select an item within Lumora."),
                    ALERT_BUTTON, 0, catmsg(1, 108, "Continue"), ALERT_HELP, "LumorHelpMenu", 0);
        return;
    }
    Widget target = help_ancestor_with_help(picked);
    if (target == nullptr) {
        std::fputs(catmsg(1, 63, "Selection error, cannot continue.\n"), stderr);
        return;
    }
    XmAnyCallbackStruct cb = {XmCR_HELP, &event};
    XtCallCallbacks(target, XmNhelpCallback, &cb);
}

void HelpAboutCallback(Widget, XtPointer, XtPointer)
{
    if (about_dialog == nullptr) {
        Arg args[1];
        XtSetArg(args[0], XmNautoUnmanage, False);
        about_dialog = XmCreateMessageDialog(app_shell, const_cast<char *>("AboutDialog"), args, 1);
        XtVaSetValues(XtParent(about_dialog), XmNtitle, catmsg(1, 505, "About Lumora"), nullptr);
        char line[256];
        std::snprintf(line, sizeof line, catmsg(1, 506, "Lumora Version %s"), prog->rel);
        std::string text = std::string(line) + "\n\n" +
                           catmsg(1, 507, "A viewer for pictures and PostScript documents.") + "\n" +
                           catmsg(1, 508, "It zooms, turns, converts and prints them.") + "\n" +
                           catmsg(1, 509, "Built on the Motif toolkit for X11.");
        XmString s = XmStringCreateLtoR(const_cast<char *>(text.c_str()),
                                        const_cast<char *>(XmFONTLIST_DEFAULT_TAG));
        XtVaSetValues(about_dialog, XmNmessageString, s, nullptr);
        XmStringFree(s);
        Pixel fg = 0, bg = 0;
        XtVaGetValues(about_dialog, XmNforeground, &fg, XmNbackground, &bg, nullptr);
        bool mono = DefaultDepthOfScreen(XtScreen(app_shell)) == 1;
        Pixmap icon = load_icon(about_dialog, mono ? "ORvimageabout.l.bm" : "ORvimageabout.l.pm", fg, bg);
        if (icon != XmUNSPECIFIED_PIXMAP) {
            XtVaSetValues(about_dialog, XmNsymbolPixmap, icon, nullptr);
        } else {
            Widget symbol = XmMessageBoxGetChild(about_dialog, XmDIALOG_SYMBOL_LABEL);
            XmString missing = XmStringCreateLtoR(const_cast<char *>(catmsg(1, 510, "Missing\nGraphics")),
                                                  const_cast<char *>(XmFONTLIST_DEFAULT_TAG));
            XtVaSetValues(symbol, XmNlabelType, XmSTRING, XmNlabelString, missing, nullptr);
            XmStringFree(missing);
        }
        XmString close = XmStringCreateLocalized(const_cast<char *>(catmsg(1, 2, "Close")));
        XtVaSetValues(about_dialog, XmNokLabelString, close, nullptr);
        XmStringFree(close);
        XtUnmanageChild(XmMessageBoxGetChild(about_dialog, XmDIALOG_CANCEL_BUTTON));
        XtUnmanageChild(XmMessageBoxGetChild(about_dialog, XmDIALOG_HELP_BUTTON));
        XtAddCallback(about_dialog, XmNokCallback, AboutCancelCallback, nullptr);
        XtAddEventHandler(XtParent(about_dialog), StructureNotifyMask, False, PopupEventHandler,
                          &about_showing);
    }
    ShowDialog(about_dialog, about_showing);
}
