// fileui.cc - the Open and Open As dialogs.
#include "formats/fileui.h"

#include <Xm/DialogS.h>
#include <Xm/FileSB.h>
#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/List.h>
#include <Xm/Protocols.h>

#include <cstring>
#include <string>

#include "app/alert.h"
#include "app/corvat.h"
#include "app/menus.h"
#include "app/msg.h"
#include "dialogs/help.h"
#include "formats/open.h"
#include "image/canvas.h"
#include "image/image.h"

Widget open_dialog = nullptr;
int open_showing = 0;
OpenAsRec *openas = nullptr;

Widget file_box(const char *shell_name, const char *box_name, const char *title,
                XtCallbackProc ok, XtCallbackProc cancel, const char *help, int *showing)
{
    Widget shell = XtVaCreatePopupShell(shell_name, xmDialogShellWidgetClass, app_shell, XmNtitle,
                                        title, XmNallowShellResize, True, XmNdeleteResponse,
                                        XmUNMAP, nullptr);
    XmString dir = XmStringCreateLocalized(prog->directory);
    Widget box = XtVaCreateWidget(box_name, xmFileSelectionBoxWidgetClass, shell, XmNdirectory, dir,
                                  XmNpathMode, XmPATH_MODE_RELATIVE, XmNautoUnmanage, False,
                                  XmNdialogStyle, XmDIALOG_PRIMARY_APPLICATION_MODAL, nullptr);
    XmStringFree(dir);
    XtAddCallback(box, XmNokCallback, ok, nullptr);
    XtAddCallback(box, XmNcancelCallback, cancel, nullptr);
    XtAddCallback(box, XmNhelpCallback, HelpItemCallback, const_cast<char *>(help));
    XtAddEventHandler(shell, StructureNotifyMask, False, PopupEventHandler, showing);
    return box;
}

namespace {

// Returns the text of the box's selection as a file name.
std::string selection_text(XtPointer call)
{
    auto *cb = static_cast<XmFileSelectionBoxCallbackStruct *>(call);
    char buf[1024];
    return cb != nullptr ? ConvertCompoundToChar(cb->value, buf, sizeof buf) : std::string();
}

// After a successful open from a dialog.
void opened_from(Widget dialog)
{
    DismissDialog(dialog);
}

} // namespace

void InsertInList(Widget list, const char *name)
{
    XmStringTable items = nullptr;
    int count = 0;
    XtVaGetValues(list, XmNitems, &items, XmNitemCount, &count, nullptr);
    int position = 0; // 0 appends
    for (int i = 0; i < count; i++) {
        char buf[1024];
        ConvertCompoundToChar(items[i], buf, sizeof buf);
        if (buf[0] != '\0' && std::strcoll(name, buf) < 0) {
            position = i + 1;
            break;
        }
    }
    XmString item = XmStringCreateLocalized(const_cast<char *>(name));
    XmListAddItemUnselected(list, item, position);
    XmStringFree(item);
}

void set_format_list(Widget list, bool only_writable)
{
    XmListDeleteAllItems(list);
    for (int i = 0; i < ntypes; i++)
        if (!only_writable || all_types[i].save != nullptr)
            InsertInList(list, all_types[i].display_name);
    XmString first = XmStringCreateLocalized(const_cast<char *>(all_types[0].display_name));
    XmListSelectItem(list, first, only_writable ? True : False);
    int pos = XmListItemPos(list, first);
    if (pos > 0)
        XmListSetPos(list, pos);
    XmStringFree(first);
}

void set_openas_list(Widget list)
{
    set_format_list(list, false);
}

FormatEntry *GetFileFormat(Widget list, int position)
{
    XmStringTable items = nullptr;
    int count = 0;
    XtVaGetValues(list, XmNitems, &items, XmNitemCount, &count, nullptr);
    if (position < 0 || position >= count)
        return nullptr;
    char buf[1024];
    ConvertCompoundToChar(items[position], buf, sizeof buf);
    for (int i = 0; i < ntypes; i++)
        if (std::strcmp(all_types[i].display_name, buf) == 0)
            return &all_types[i];
    return nullptr;
}

void SetCurrentDoc(Widget box, const char *name)
{
    Widget text = XmFileSelectionBoxGetChild(box, XmDIALOG_TEXT);
    Widget list = XmFileSelectionBoxGetChild(box, XmDIALOG_LIST);
    if (text != nullptr)
        XtVaSetValues(text, XmNvalue, name, nullptr);
    if (list == nullptr)
        return;
    XmString item = XmStringCreateLocalized(const_cast<char *>(name));
    XmListSelectItem(list, item, False);
    int pos = XmListItemPos(list, item);
    if (pos > 0 && XmListPosSelected(list, pos))
        XmListSetPos(list, pos);
    XmStringFree(item);
}

void reread_open_choosers(const char *dir)
{
    if (dir == nullptr || *dir == '\0')
        return;
    Widget boxes[] = {open_dialog, openas != nullptr ? openas->dialog : nullptr};
    XmString d = XmStringCreateLocalized(const_cast<char *>(dir));
    for (Widget box : boxes) {
        if (box == nullptr)
            continue;
        XmString current = nullptr;
        XtVaGetValues(box, XmNdirectory, &current, nullptr);
        char buf[1024];
        std::string shown = ConvertCompoundToChar(current, buf, sizeof buf);
        XmStringFree(current);
        // Motif shows folders with a trailing '/'.
        std::string want = dir;
        if (want.back() != '/')
            want += '/';
        if (shown == want || shown == dir) {
            XtVaSetValues(box, XmNdirectory, d, nullptr);
            if (current_image != nullptr)
                SetCurrentDoc(box, basename(current_image->file));
        }
    }
    XmStringFree(d);
}

void OpenCallback(Widget, XtPointer, XtPointer)
{
    if (!SaveUnsavedSnapshot())
        return;
    setbusy();
    if (open_dialog == nullptr)
        open_dialog = file_box("OpenShell", "OpenDialog", catmsg(1, 36, "Lumora - Open"),
                               OpenOKCallback, OpenCancelCallback, "LumorOpenDialog", &open_showing);
    if (current_image != nullptr)
        SetCurrentDoc(open_dialog, basename(current_image->file));
    ShowDialog(open_dialog, open_showing);
    setactive();
}

void OpenAsCallback(Widget, XtPointer, XtPointer)
{
    if (!SaveUnsavedSnapshot())
        return;
    setbusy();
    if (openas == nullptr) {
        openas = new OpenAsRec{};
        openas->dialog = file_box("OpenAsShell", "OpenAsDialog", catmsg(1, 37, "Lumora - Open As"),
                                  OpenAsOKCallback, OpenAsCancelCallback, "LumorOpenAsDialog",
                                  &openas->showing);
        openas->shell = XtParent(openas->dialog);
        Widget form = XtVaCreateManagedWidget("SaveAsForm", xmFormWidgetClass, openas->dialog, nullptr);
        XmString text = XmStringCreateLocalized(const_cast<char *>(catmsg(1, 38, "File Format:")));
        openas->label = XtVaCreateManagedWidget("FileFormatLabel", xmLabelWidgetClass, form,
                                                XmNlabelString, text, XmNtopAttachment, XmATTACH_FORM,
                                                XmNleftAttachment, XmATTACH_FORM, nullptr);
        XmStringFree(text);
        Arg args[1];
        XtSetArg(args[0], XmNvisibleItemCount, 4);
        openas->list = XmCreateScrolledList(form, const_cast<char *>("PrinterList"), args, 1);
        XtVaSetValues(XtParent(openas->list), XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget,
                      openas->label, XmNleftAttachment, XmATTACH_FORM, XmNrightAttachment,
                      XmATTACH_FORM, XmNbottomAttachment, XmATTACH_FORM, nullptr);
        XtVaSetValues(openas->list, XmNselectionPolicy, XmBROWSE_SELECT, nullptr);
        XtManageChild(openas->list);
        set_openas_list(openas->list);
    }
    if (current_image != nullptr)
        SetCurrentDoc(openas->dialog, basename(current_image->file));
    ShowDialog(openas->dialog, openas->showing);
    setactive();
}

void OpenOKCallback(Widget w, XtPointer, XtPointer call)
{
    std::string text = selection_text(call);
    if (open_newfile(text.c_str(), text.c_str(), -1, nullptr, 0) >= 0)
        opened_from(w);
}

void OpenAsOKCallback(Widget w, XtPointer, XtPointer call)
{
    std::string text = selection_text(call);
    // Without a chosen format the file is typed by its content.
    FormatEntry *row = GetFileFormat(openas->list, GetListSelection(openas->list));
    int index = row == nullptr || row->type == FMT_AUTO ? -1 : row->type;
    if (open_newfile(text.c_str(), text.c_str(), index, nullptr, 0) >= 0)
        opened_from(w);
}

void OpenCancelCallback(Widget w, XtPointer, XtPointer)
{
    DismissDialog(w);
}

void OpenAsCancelCallback(Widget w, XtPointer, XtPointer)
{
    DismissDialog(w);
}
