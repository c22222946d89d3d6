// corvat_main.cc - the start-up sequence, the X error handler and the event
// loop.
#include "app/corvat.h"

#include <X11/Shell.h>
#include <X11/StringDefs.h>
#include <Xm/Xm.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <strings.h>
#include <vector>

#include "app/alert.h"
#include "app/batch.h"
#include "app/misc.h"
#include "app/msg.h"
#include "app/ui_corvat.h"
#include "dialogs/props.h"
#include "formats/open.h"
#include "image/canvas.h"
#include "image/image.h"

XtAppContext app_context = nullptr;
Widget app_shell = nullptr;

namespace {

// Set by the X error handler when the server ran out of memory; the alert
// is shown from the event loop, where X requests are allowed again.
bool bad_alloc_pending = false;

void BadAllocAlert(XtPointer, XtIntervalId *)
{
    AlertPrompt(app_shell, ALERT_TYPE, XmDIALOG_WARNING, ALERT_TITLE, catmsg(1, 386, "Lumora"),
                ALERT_STYLE, XmDIALOG_FULL_APPLICATION_MODAL, ALERT_MESSAGE,
                catmsg(1, 1, "Unable to allocate sufficient memory.\nLumora cannot continue."),
                ALERT_BUTTON, 0, catmsg(1, 2, "Close"), 0);
    std::exit(1);
}

// The toolkit's standard options, which the toolkit merges with ours; used
// when no display can be opened and the command line is read without it.
const XrmOptionDescRec toolkit_options[] = {
    {const_cast<char *>("+rv"), const_cast<char *>("*reverseVideo"), XrmoptionNoArg, const_cast<char *>("off")},
    {const_cast<char *>("+synchronous"), const_cast<char *>("*synchronous"), XrmoptionNoArg, const_cast<char *>("off")},
    {const_cast<char *>("-background"), const_cast<char *>("*background"), XrmoptionSepArg, nullptr},
    {const_cast<char *>("-bd"), const_cast<char *>("*borderColor"), XrmoptionSepArg, nullptr},
    {const_cast<char *>("-bg"), const_cast<char *>("*background"), XrmoptionSepArg, nullptr},
    {const_cast<char *>("-bordercolor"), const_cast<char *>("*borderColor"), XrmoptionSepArg, nullptr},
    {const_cast<char *>("-borderwidth"), const_cast<char *>(".borderWidth"), XrmoptionSepArg, nullptr},
    {const_cast<char *>("-bw"), const_cast<char *>(".borderWidth"), XrmoptionSepArg, nullptr},
    {const_cast<char *>("-display"), const_cast<char *>(".display"), XrmoptionSepArg, nullptr},
    {const_cast<char *>("-fg"), const_cast<char *>("*foreground"), XrmoptionSepArg, nullptr},
    {const_cast<char *>("-fn"), const_cast<char *>("*font"), XrmoptionSepArg, nullptr},
    {const_cast<char *>("-font"), const_cast<char *>("*font"), XrmoptionSepArg, nullptr},
    {const_cast<char *>("-foreground"), const_cast<char *>("*foreground"), XrmoptionSepArg, nullptr},
    {const_cast<char *>("-geometry"), const_cast<char *>(".geometry"), XrmoptionSepArg, nullptr},
    {const_cast<char *>("-iconic"), const_cast<char *>(".iconic"), XrmoptionNoArg, const_cast<char *>("on")},
    {const_cast<char *>("-name"), const_cast<char *>(".name"), XrmoptionSepArg, nullptr},
    {const_cast<char *>("-reverse"), const_cast<char *>("*reverseVideo"), XrmoptionNoArg, const_cast<char *>("on")},
    {const_cast<char *>("-rv"), const_cast<char *>("*reverseVideo"), XrmoptionNoArg, const_cast<char *>("on")},
    {const_cast<char *>("-selectionTimeout"), const_cast<char *>(".selectionTimeout"), XrmoptionSepArg, nullptr},
    {const_cast<char *>("-synchronous"), const_cast<char *>("*synchronous"), XrmoptionNoArg, const_cast<char *>("on")},
    {const_cast<char *>("-title"), const_cast<char *>(".title"), XrmoptionSepArg, nullptr},
    {const_cast<char *>("-xnllanguage"), const_cast<char *>(".xnlLanguage"), XrmoptionSepArg, nullptr},
    {const_cast<char *>("-xrm"), nullptr, XrmoptionResArg, nullptr},
    {const_cast<char *>("-xtsessionID"), const_cast<char *>(".sessionID"), XrmoptionSepArg, nullptr},
};

// Returns the Boolean a resource text stands for, as the toolkit reads it.
bool text_to_boolean(const char *text, bool *ok)
{
    static const char *const yes[] = {"true", "yes", "on", "1"};
    static const char *const no[] = {"false", "no", "off", "0"};
    *ok = true;
    for (const char *y : yes)
        if (strcasecmp(text, y) == 0)
            return true;
    for (const char *n : no)
        if (strcasecmp(text, n) == 0)
            return false;
    *ok = false;
    return false;
}

// Fills the resource record from the command line alone, as the toolkit
// would, for a run without a display (batch conversion, -usage, -version).
void read_resources_without_display(int *argc, char **argv, AppResources *r)
{
    XrmInitialize();
    std::vector<XrmOptionDescRec> table(std::begin(toolkit_options), std::end(toolkit_options));
    for (int i = 0; i < n_options; i++) {
        bool replaced = false;
        for (XrmOptionDescRec &t : table)
            if (std::strcmp(t.option, options[i].option) == 0) {
                t = options[i];
                replaced = true;
            }
        if (!replaced)
            table.push_back(options[i]);
    }
    const char *slash = std::strrchr(argv[0], '/');
    std::string appname = slash != nullptr ? slash + 1 : argv[0];
    XrmDatabase db = nullptr;
    XrmParseCommand(&db, table.data(), static_cast<int>(table.size()), appname.c_str(), argc,
                    argv);
    char *type = nullptr;
    XrmValue value;
    if (db != nullptr && XrmGetResource(db, (appname + ".name").c_str(), "Orvimage.Name", &type,
                                        &value))
        appname = static_cast<const char *>(value.addr);

    char *base = reinterpret_cast<char *>(r);
    for (int i = 0; i < n_app_resources; i++) {
        const XtResource &res = app_resources[i];
        std::string name = appname + "." + res.resource_name;
        std::string cls = std::string("Orvimage.") + res.resource_class;
        const char *text = nullptr;
        if (db != nullptr && XrmGetResource(db, name.c_str(), cls.c_str(), &type, &value))
            text = static_cast<const char *>(value.addr);
        void *field = base + res.resource_offset;
        if (std::strcmp(res.resource_type, XtRString) == 0) {
            const char *v = text != nullptr ? text : static_cast<const char *>(res.default_addr);
            // The strings live as long as the program, as Xt's would.
            static std::deque<std::string> strings;
            if (v != nullptr)
                strings.emplace_back(v);
            *static_cast<char **>(field) = v != nullptr ? strings.back().data() : nullptr;
            continue;
        }
        bool ok = false;
        if (std::strcmp(res.resource_type, XtRBoolean) == 0) {
            Boolean v = static_cast<Boolean>(reinterpret_cast<intptr_t>(res.default_addr));
            if (text != nullptr) {
                bool b = text_to_boolean(text, &ok);
                if (ok)
                    v = b;
                else
                    std::fprintf(stderr,
                                 "Warning: Cannot convert string \"%s\" to type Boolean\n", text);
            }
            *static_cast<Boolean *>(field) = v;
        } else if (std::strcmp(res.resource_type, XtRCardinal) == 0) {
            Cardinal v = static_cast<Cardinal>(reinterpret_cast<intptr_t>(res.default_addr));
            if (text != nullptr) {
                char *end = nullptr;
                unsigned long n = std::strtoul(text, &end, 10);
                if (*text != '\0' && *end == '\0' && n <= 0xffffffffUL)
                    v = static_cast<Cardinal>(n);
                else
                    std::fprintf(stderr,
                                 "Warning: Cannot convert string \"%s\" to type Cardinal\n", text);
            }
            *static_cast<Cardinal *>(field) = v;
        }
    }
    if (db != nullptr)
        XrmDestroyDatabase(db);
}

// Until the rest of the viewer lands, requests for it are refused plainly.
[[noreturn]] void not_available(const char *what)
{
    std::fprintf(stderr, catmsg(2, 16, "%s: %s is not available in this version.\n"), prog->name,
                 what);
    std::exit(1);
}

} // namespace

int corvat_x_error_handler(Display *dpy, XErrorEvent *ev)
{
    char buffer[BUFSIZ], mesg[BUFSIZ], number[32];
    XGetErrorText(dpy, ev->error_code, buffer, BUFSIZ);
    XGetErrorDatabaseText(dpy, "XlibMessage", "XError", "X Error (intercepted)", mesg, BUFSIZ);
    std::fprintf(stderr, "%s:  %s\n  ", mesg, buffer);
    XGetErrorDatabaseText(dpy, "XlibMessage", "MajorCode", "Request Major code %d", mesg, BUFSIZ);
    std::fprintf(stderr, mesg, ev->request_code);
    std::snprintf(number, sizeof number, "%d", ev->request_code);
    XGetErrorDatabaseText(dpy, "XRequest", number, "", buffer, BUFSIZ);
    std::fprintf(stderr, " (%s)", buffer);
    std::fputs("\n  ", stderr);
    XGetErrorDatabaseText(dpy, "XlibMessage", "MinorCode", "Request Minor code", mesg, BUFSIZ);
    std::fprintf(stderr, mesg, ev->minor_code);
    std::fputs("\n  ", stderr);
    XGetErrorDatabaseText(dpy, "XlibMessage", "ResourceID", "ResourceID 0x%x", mesg, BUFSIZ);
    std::fprintf(stderr, mesg, static_cast<unsigned>(ev->resourceid));
    std::fputs("\n  ", stderr);
    XGetErrorDatabaseText(dpy, "XlibMessage", "ErrorSerial", "Error Serial #%d", mesg, BUFSIZ);
    std::fprintf(stderr, mesg, static_cast<int>(ev->serial));
    std::fputs("\n  ", stderr);
    XGetErrorDatabaseText(dpy, "XlibMessage", "CurrentSerial", "Current Serial #%d", mesg, BUFSIZ);
    std::fprintf(stderr, mesg, static_cast<int>(NextRequest(dpy) - 1));
    std::fputs("\n", stderr);
    if (prog != nullptr && prog->verbose == 1)
        std::abort();
    if (ev->error_code == BadAlloc && !bad_alloc_pending && app_context != nullptr) {
        bad_alloc_pending = true;
        XtAppAddTimeOut(app_context, 0, BadAllocAlert, nullptr);
    }
    return 0;
}

void process_one_event()
{
    XEvent event;
    XtAppNextEvent(app_context, &event);
    XtDispatchEvent(&event);
}

bool corvat_init_toolkit(int *argc, char **argv)
{
    prog = pre_init_prog();
    XtSetLanguageProc(nullptr, nullptr, nullptr);

    // The toolkit's initialisation, step by step, so that a missing display
    // does not end the program: batch conversion, -usage and -version work
    // without one.
    XtToolkitInitialize();
    app_context = XtCreateApplicationContext();
    XtAppSetFallbackResources(app_context, const_cast<String *>(fallbacks));
    Display *dpy = XtOpenDisplay(app_context, nullptr, nullptr, "Orvimage",
                                 const_cast<XrmOptionDescRec *>(options), n_options, argc, argv);
    appresources = static_cast<AppResources *>(std::calloc(1, sizeof(AppResources)));
    if (appresources == nullptr)
        OutOfMemory();
    if (dpy != nullptr) {
        app_shell = XtVaAppCreateShell(nullptr, "Orvimage", applicationShellWidgetClass, dpy,
                                       XmNwidth, 500, XmNheight, 600, XmNwidthInc, 1,
                                       XmNheightInc, 1, XmNdeleteResponse, XmDO_NOTHING, nullptr);
        XSetErrorHandler(corvat_x_error_handler);
        XtGetApplicationResources(app_shell, appresources, app_resources, n_app_resources,
                                  nullptr, 0);
    } else {
        read_resources_without_display(argc, argv, appresources);
    }
    prog->dt_db_loaded = 1;
    complete_init_prog(prog);
    return dpy != nullptr;
}

void corvat_main(int argc, char **argv)
{
    bool have_display = corvat_init_toolkit(&argc, argv);
    parse_args(prog, appresources, argc, argv);
    if (!have_display && !appresources->batch) {
        std::fprintf(stderr, "Error: Can't open display: %s\n", XDisplayName(nullptr));
        std::exit(1);
    }
    char *path = parse_input_filename(prog, appresources);
    parse_compile_wm_command(prog, appresources, argv);
    if (appresources->batch)
        run_batch(path);

    base = static_cast<BaseRec *>(std::calloc(1, sizeof(BaseRec)));
    if (base == nullptr)
        OutOfMemory();
    base = BaseObjectsInitialize(base, app_shell);
    read_props(1);
    set_labels(catmsg(1, 104, "(None)"));
    std::atexit(ShutdownCorvat);
    XtVaSetValues(app_shell, XmNmappedWhenManaged, False, nullptr);
    XtRealizeWidget(app_shell);

    if (appresources->start_capture) {
        not_available("Snapshot capture");
    } else if (prog->tt_mode) {
        std::fprintf(stderr, catmsg(1, 105, "%s: Could not initialize Parley.\n"), prog->name);
        std::exit(1);
    } else if (path != nullptr) {
        prog->main_window_mapped = 1;
        int index = appresources->in_format == FMT_AUTO ? -1 : appresources->in_format;
        if (OpenAtStart(path, index) < 0 && !prog->ps_canvas_created)
            current_display = image_display;
    } else {
        current_display = image_display;
    }
    XMapWindow(XtDisplay(app_shell), XtWindow(app_shell));
    if (prog->snap_dialog_at_start)
        not_available("The snapshot dialog");

    for (;;)
        process_one_event();
}
