// corvat.cc - start-up: program and resource records, the command line,
// the standard-input copy, the window-manager command and the exit handler.
#include "app/corvat.h"

#include <X11/Shell.h>
#include <X11/StringDefs.h>
#include <X11/Xlib.h>
#include <Xm/Xm.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/misc.h"
#include "app/msg.h"
#include "app/tmpdir.h"
#include "image/image.h"

ProgRec *prog = nullptr;
AppResources *appresources = nullptr;

const ConversionEntry all_conversions[] = {
    {"RASTER", FMT_RASTER}, {"TIFF", FMT_TIFF}, {"GIF", FMT_GIF},   {"PS", FMT_PS},
    {"EPSF", FMT_EPSF},     {"XPM", FMT_XPM},   {"JPEG", FMT_JFIF}, {"AUTO", FMT_AUTO},
};
const int ctypes = 8;
static_assert(sizeof all_conversions / sizeof all_conversions[0] == 8);

const XrmOptionDescRec options[] = {
    {const_cast<char *>("-snapshot"), const_cast<char *>("._snapshot"), XrmoptionNoArg, const_cast<char *>("True")},
    {const_cast<char *>("-parley"), const_cast<char *>("._parley"), XrmoptionNoArg, const_cast<char *>("True")},
    {const_cast<char *>("-timeout"), const_cast<char *>("._timeout"), XrmoptionSepArg, nullptr},
    {const_cast<char *>("-session"), const_cast<char *>("._session"), XrmoptionSepArg, nullptr},
    {const_cast<char *>("-verbose"), const_cast<char *>("._verbose"), XrmoptionNoArg, const_cast<char *>("True")},
    {const_cast<char *>("-version"), const_cast<char *>("._version"), XrmoptionNoArg, const_cast<char *>("True")},
    {const_cast<char *>("-usage"), const_cast<char *>("._usage"), XrmoptionNoArg, const_cast<char *>("True")},
    {const_cast<char *>("-f"), const_cast<char *>("._overwrite"), XrmoptionNoArg, const_cast<char *>("True")},
    {const_cast<char *>("-out"), const_cast<char *>("._outFile"), XrmoptionSepArg, nullptr},
    {const_cast<char *>("-outType"), const_cast<char *>("._outType"), XrmoptionSepArg, nullptr},
    {const_cast<char *>("-inType"), const_cast<char *>("._inType"), XrmoptionSepArg, nullptr},
    {const_cast<char *>("-window"), const_cast<char *>("._window"), XrmoptionSepArg, nullptr},
    {const_cast<char *>("-region"), const_cast<char *>("._region"), XrmoptionSepArg, nullptr},
    {const_cast<char *>("-screen"), const_cast<char *>("._screen"), XrmoptionNoArg, const_cast<char *>("True")},
    {const_cast<char *>("-linear"), const_cast<char *>("._linear"), XrmoptionNoArg, const_cast<char *>("True")},
};
const int n_options = 15;
static_assert(sizeof options / sizeof options[0] == 15);

#define RES(name, cls, type, field, dtype, dflt)                                                   \
    {const_cast<char *>(name), const_cast<char *>(cls), const_cast<char *>(type),                  \
     sizeof(AppResources::field), XtOffsetOf(AppResources, field), const_cast<char *>(dtype),     \
     (XtPointer)(dflt)}

XtResource app_resources[] = {
    RES("name", "Name", XtRString, name, XtRString, "orvimage"),
    RES("title", XtCTitle, XtRString, title, XtRImmediate, nullptr),
    RES("geometry", XtCGeometry, XtRString, geometry, XtRImmediate, nullptr),
    RES("iconName", XtCIconName, XtRString, icon_name, XtRImmediate, nullptr),
    RES("visual", XtCVisual, XtRString, visual, XtRImmediate, nullptr),
    RES("_session", "_Session", XtRString, session, XtRImmediate, nullptr),
    RES("_snapshot", "_Snapshot", XtRBoolean, snapshot, XtRImmediate, False),
    RES("_parley", "_Parley", XtRBoolean, parley, XtRImmediate, False),
    RES("_verbose", "_Verbose", XtRBoolean, verbose, XtRImmediate, False),
    RES("_version", "_Version", XtRBoolean, version, XtRImmediate, False),
    RES("_usage", "_Usage", XtRBoolean, usage, XtRImmediate, False),
    RES("_timeout", "_Timeout", XtRCardinal, timeout, XtRImmediate, 60),
    RES("_overwrite", "_Overwrite", XtRBoolean, overwrite, XtRImmediate, False),
    RES("_outFile", "_OutFile", XtRString, out_file, XtRImmediate, nullptr),
    RES("_outType", "_OutType", XtRString, out_type, XtRImmediate, nullptr),
    RES("_inType", "_InType", XtRString, in_type, XtRImmediate, nullptr),
    RES("_window", "_Window", XtRString, window, XtRImmediate, nullptr),
    RES("_region", "_Region", XtRString, region, XtRImmediate, nullptr),
    RES("_screen", "_Screen", XtRBoolean, screen, XtRImmediate, False),
    RES("_linear", "_Linear", XtRBoolean, linear, XtRImmediate, False),
};
#undef RES
const int n_app_resources = 20;
static_assert(sizeof app_resources / sizeof app_resources[0] == 20);

// Menu-bar and menu-item mnemonics and the six accelerators.
const char *fallbacks[] = {
    "Orvimage*MenuBar.FileButton.mnemonic:         F",
    "Orvimage*MenuBar.EditButton.mnemonic:         E",
    "Orvimage*MenuBar.ViewButton.mnemonic:         V",
    "Orvimage*MenuBar.HelpButton.mnemonic:         H",
    "Orvimage*FileMenu.OpenItem.mnemonic:          O",
    "Orvimage*OpenItem.accelerator:                Ctrl<Key>O",
    "Orvimage*OpenItem.acceleratorText:            Ctrl+O",
    "Orvimage*FileMenu.OpenAsItem.mnemonic:        p",
    "Orvimage*FileMenu.SaveItem.mnemonic:          S",
    "Orvimage*SaveItem.accelerator:                Ctrl<Key>S",
    "Orvimage*SaveItem.acceleratorText:            Ctrl+S",
    "Orvimage*FileMenu.SaveAsItem.mnemonic:        A",
    "Orvimage*SaveAsItem.accelerator:              Ctrl<Key>A",
    "Orvimage*SaveAsItem.acceleratorText:          Ctrl+A",
    "Orvimage*FileMenu.SaveSelItem.mnemonic:       v",
    "Orvimage*FileMenu.SavePageItem.mnemonic:      I",
    "Orvimage*FileMenu.PrintOneItem.mnemonic:      r",
    "Orvimage*FileMenu.PrintPrevItem.mnemonic:     n",
    "Orvimage*FileMenu.PrintItem.mnemonic:         P",
    "Orvimage*PrintItem.accelerator:               Ctrl<Key>P",
    "Orvimage*PrintItem.acceleratorText:           Ctrl+P",
    "Orvimage*FileMenu.OptionsItem.mnemonic:       t",
    "Orvimage*OptionsItem.accelerator:             Ctrl<Key>I",
    "Orvimage*OptionsItem.acceleratorText:         Ctrl+I",
    "Orvimage*FileMenu.ExitItem.mnemonic:          x",
    "Orvimage*ExitItem.accelerator:                Alt<Key>F4",
    "Orvimage*ExitItem.acceleratorText:            Alt+F4",
    "Orvimage*EditMenu.UndoItem.mnemonic:          U",
    "Orvimage*EditMenu.PaletteItem.mnemonic:       P",
    "Orvimage*ViewMenu.ImageInfoItem.mnemonic:     I",
    "Orvimage*ViewMenu.OverviewItem.mnemonic:      P",
    "Orvimage*ViewMenu.ControlsItem.mnemonic:      V",
    "Orvimage*HelpMenu.OverviewItem.mnemonic:      O",
    "Orvimage*HelpMenu.TasksItem.mnemonic:         T",
    "Orvimage*HelpMenu.RefItem.mnemonic:           R",
    "Orvimage*HelpMenu.OnItem.mnemonic:            I",
    "Orvimage*HelpMenu.UsingHelpItem.mnemonic:     U",
    "Orvimage*HelpMenu.AboutItem.mnemonic:         A",
    nullptr,
};
static_assert(sizeof fallbacks / sizeof fallbacks[0] == 39, "38 fallback lines and the end");

// --- the program record ------------------------------------------------------

ProgRec *pre_init_prog()
{
    ProgRec *p = static_cast<ProgRec *>(std::calloc(1, sizeof(ProgRec)));
    if (p == nullptr)
        OutOfMemory();
    p->rel = "1.2.2";
    if (gethostname(p->hostname, sizeof p->hostname - 1) != 0)
        p->hostname[0] = '\0';
    p->uid = static_cast<int>(geteuid());
    p->gid = static_cast<int>(getegid());
    p->dt_db_loaded = -1;
    p->def_ps_zoom = 100;
    // The temporary-file base lies in the private folder, which is made only
    // when the first temporary file is needed (tmp_file_base).
    p->timeout = 60;
    p->ps_setting1 = 1;
    p->catalog = (nl_catd)-1;
    p->name = xstrdup("Lumora");
    return p;
}

void complete_init_prog(ProgRec *p)
{
    p->catalog = open_catalog("orvimage");
    std::free(p->name);
    p->name = xstrdup(catmsg(1, 100, "Lumora"));
    p->directory = getcwd(nullptr, 1024);
    if (p->directory == nullptr) {
        std::fprintf(stderr, catmsg(1, 101, "%s: Can't get current directory!\n"), p->name);
        std::exit(1);
    }
}

const char *tmp_file_base()
{
    if (prog->tmp_base == nullptr) {
        const std::string &dir = private_tmpdir();
        if (dir.empty())
            return nullptr;
        std::string base = dir + "/orvimage" + std::to_string(getpid());
        prog->tmp_base = xstrdup(base.c_str());
    }
    return prog->tmp_base;
}

// --- the command line ------------------------------------------------------------

int parse_image_type(const char *name)
{
    if (name == nullptr)
        return -1;
    for (int i = 0; i < ctypes; i++)
        if (strcasecmp(all_conversions[i].name, name) == 0)
            return all_conversions[i].type;
    return -1;
}

namespace {

// Splits "prefix:name": returns the prefix's row (unknown prefixes print the
// message and give dflt), stores the part after the colon in *rest.  An empty
// rest prints "no file" and exits.
int split_type_prefix(const char *text, int dflt, char **prefix, char **rest)
{
    const char *colon = std::strchr(text, ':');
    if (colon[1] == '\0') {
        std::fputs(catmsg(2, 8, "No input file specified.\n"), stderr);
        std::exit(1);
    }
    *prefix = strndup(text, static_cast<size_t>(colon - text));
    if (*prefix == nullptr)
        OutOfMemory();
    *rest = xstrdup(colon + 1);
    int type = parse_image_type(*prefix);
    if (type < 0) {
        std::fputs(catmsg(2, 7, "Unknown image type specified.\n"), stderr);
        type = dflt;
    }
    return type;
}

// True when text is non-empty and every character satisfies pred.
template <typename Pred> bool all_of_text(const char *text, Pred pred)
{
    if (*text == '\0')
        return false;
    for (; *text != '\0'; ++text)
        if (!pred(static_cast<unsigned char>(*text)))
            return false;
    return true;
}

[[noreturn]] void one_operation_only()
{
    std::fputs(catmsg(2, 4, "Only one snapshot operation allowed.\n"), stderr);
    std::exit(1);
}

[[noreturn]] void parley_refused()
{
    std::fputs(catmsg(2, 3, "Parley option not allowed.\n"), stderr);
    std::exit(1);
}

} // namespace

void parse_args_snapshot(ProgRec *p, AppResources *r, int *argc, char **argv)
{
    if (r->parley)
        parley_refused();

    // The toolkit leaves a value option without its value at the end of the
    // line: a bare -window or -region asks for a choice with the pointer.
    const char *last = *argc > 1 ? argv[*argc - 1] : "";
    if (std::strcmp(last, "-window") == 0 || std::strcmp(last, "-region") == 0) {
        bool bare_window = false, bare_region = false;
        for (int i = 1; i < *argc; i++) {
            bare_window |= std::strcmp(argv[i], "-window") == 0;
            bare_region |= std::strcmp(argv[i], "-region") == 0;
        }
        if ((bare_window && bare_region) || r->window != nullptr || r->region != nullptr ||
            r->screen)
            one_operation_only();
        if (bare_window)
            r->window = xstrdup("");
        else
            r->region = xstrdup("");
        r->interactive = True;
        r->start_capture = True;
        (*argc)--;
        return;
    }

    if (r->window != nullptr) {
        if (r->region != nullptr || r->screen)
            one_operation_only();
        const char *v = r->window;
        bool ok = true;
        if (std::strlen(v) > 3 && v[0] == '0' && v[1] == 'x') {
            // The whole value must be hexadecimal: "0x12zz" is a typo, not
            // window 0x12.
            ok = all_of_text(v + 2, [](unsigned char c) { return std::isxdigit(c) != 0; });
            if (ok) {
                errno = 0;
                unsigned long id = std::strtoul(v + 2, nullptr, 16);
                ok = errno == 0 && id <= 0xffffffffUL;
                r->window_id = static_cast<int>(id);
            }
        } else if (all_of_text(v, [](unsigned char c) { return std::isdigit(c) != 0; })) {
            errno = 0;
            unsigned long id = std::strtoul(v, nullptr, 10);
            ok = errno == 0 && id <= 0x7fffffffUL;
            r->window_id = static_cast<int>(id);
        }
        if (!ok) {
            std::fputs(catmsg(2, 5, "Invalid window id specified.\n"), stderr);
            std::exit(1);
        }
        r->start_capture = True;
        return;
    }

    if (r->region != nullptr) {
        if (r->screen)
            one_operation_only();
        if (std::sscanf(r->region, "%dx%d+%d+%d", &r->region_width, &r->region_height,
                        &r->region_x, &r->region_y) < 4) {
            std::fputs(catmsg(2, 6, "Invalid geometry specified.\n"), stderr);
            std::exit(1);
        }
        r->start_capture = True;
        return;
    }

    if (r->screen) {
        r->start_capture = True;
        return;
    }
    p->snap_dialog_at_start = 1;
}

void parse_args(ProgRec *p, AppResources *r, int argc, char **argv)
{
    r->start_capture = False;
    r->batch = False;
    r->in_format = FMT_AUTO;
    r->out_format = 0;
    p->timeout = static_cast<int>(r->timeout);

    if (r->usage) {
        usage();
        std::exit(0);
    }
    if (r->version) {
        std::fprintf(stderr, catmsg(1, 98, "%s version %s running on %s \n"), p->name, p->rel,
                     "@(#)Motif Version 2.1.0");
        std::exit(0);
    }
    if (r->verbose)
        p->verbose++;
    if (r->parley)
        p->tt_mode = 1;
    if (r->snapshot)
        parse_args_snapshot(p, r, &argc, argv);

    if (argc == 2) {
        if (r->in_type != nullptr) {
            r->in_format = parse_image_type(r->in_type);
            if (r->in_format < 0) {
                std::fputs(catmsg(2, 7, "Unknown image type specified.\n"), stderr);
                r->in_format = FMT_AUTO;
            }
            r->in_file = xstrdup(argv[1]);
        } else if (std::strchr(argv[1], ':') != nullptr) {
            char *prefix = nullptr, *rest = nullptr;
            r->in_format = split_type_prefix(argv[1], FMT_AUTO, &prefix, &rest);
            r->in_type = prefix;
            r->in_file = rest;
        } else {
            r->in_file = xstrdup(argv[1]);
        }
    } else if (r->in_type != nullptr) {
        std::fputs(catmsg(2, 8, "No input file specified.\n"), stderr);
    }

    if (r->out_file != nullptr) {
        if (r->parley)
            parley_refused();
        if (r->out_type != nullptr) {
            r->out_format = parse_image_type(r->out_type);
            if (r->out_format < 0) {
                std::fputs(catmsg(2, 7, "Unknown image type specified.\n"), stderr);
                r->out_format = FMT_TIFF;
            }
        } else if (const char *colon = std::strchr(r->out_file, ':')) {
            if (colon[1] == '\0') {
                std::fputs(catmsg(2, 15, "No output file specified.\n"), stderr);
                std::exit(1);
            }
            std::string prefix(r->out_file, static_cast<size_t>(colon - r->out_file));
            r->out_format = parse_image_type(prefix.c_str());
            if (r->out_format < 0) {
                std::fputs(catmsg(2, 7, "Unknown image type specified.\n"), stderr);
                r->out_format = FMT_TIFF;
            }
            // The name after the prefix, kept for the program's life.
            static std::string name;
            name = colon + 1;
            r->out_file = name.data();
        } else {
            r->out_format = FMT_TIFF;
        }
        if (std::strcmp(r->out_file, "-") == 0) {
            r->out_file = create_tmp_file_name("orvimage_out");
            p->output_to_stdout = 1;
        }
        r->start_capture = True;
        r->batch = True;
    } else if (r->out_type != nullptr) {
        std::fputs(catmsg(2, 15, "No output file specified.\n"), stderr);
        std::exit(1);
    }

    if (r->in_file == nullptr) {
        if (r->batch && !r->snapshot) {
            std::fputs(catmsg(2, 9, "No input file specified.\n"), stderr);
            std::exit(1);
        }
        if (r->batch && r->snapshot && p->snap_dialog_at_start) {
            std::fputs(catmsg(2, 10, "No snapshot operation specified.\n"), stderr);
            std::exit(1);
        }
    } else {
        if (r->snapshot && !p->snap_dialog_at_start) {
            std::fputs(catmsg(2, 14, "Only one input source may be specified.\n"), stderr);
            std::exit(1);
        }
        if (r->parley)
            parley_refused();
    }

    if (argc > 2)
        parse_undefined(argc, argv, 1);
}

char *create_tmp_file_name(const char *stem)
{
    const std::string &dir = private_tmpdir();
    const char *tmp = std::getenv("TMPDIR");
    std::string name = (!dir.empty() ? dir : (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp");
    name = name + "/" + stem + ".XXXXXX";
    int fd = dir.empty() ? -1 : mkstemp(name.data());
    if (fd < 0) {
        std::fprintf(stderr, catmsg(1, 436, "%s: Can't create temp file `%s'\n"), prog->name,
                     name.c_str());
        std::exit(1);
    }
    close(fd);
    return xstrdup(name.c_str());
}

char *parse_input_filename(ProgRec *p, AppResources *r)
{
    if (r->in_file == nullptr)
        return nullptr;
    if (std::strcmp(r->in_file, "-") == 0)
        p->input_from_stdin++;
    if (p->input_from_stdin) {
        char *name = create_tmp_file_name("orvimage_in");
        p->stdin_copy = name;
        FILE *out = std::fopen(name, "w");
        if (out == nullptr) {
            std::fprintf(stderr, catmsg(1, 436, "%s: Can't create temp file `%s'\n"), p->name,
                         name);
            std::exit(1);
        }
        char buf[2048];
        size_t n;
        bool ok = true;
        while ((n = std::fread(buf, 1, sizeof buf, stdin)) > 0)
            ok = ok && std::fwrite(buf, 1, n, out) == n;
        ok = ok && !std::ferror(stdin);
        if (std::fclose(out) != 0 || !ok) {
            // A copy that lost bytes would convert a different picture.
            std::fprintf(stderr, catmsg(1, 436, "%s: Can't create temp file `%s'\n"), p->name,
                         name);
            unlink(name);
            std::exit(1);
        }
        return xstrdup(name);
    }
    if (r->in_file[0] == '/') {
        char *dir = strip_filename(r->in_file);
        struct stat st;
        if (stat(*dir != '\0' ? dir : "/", &st) == 0 && S_ISDIR(st.st_mode)) {
            std::free(p->directory);
            p->directory = xstrdup(*dir != '\0' ? dir : "/");
        }
        std::free(dir);
        return xstrdup(r->in_file);
    }
    std::string full = std::string(p->directory) + "/" + r->in_file;
    return xstrdup(full.c_str());
}

char *parse_compile_wm_command(ProgRec *p, AppResources *r, char **argv)
{
    std::string list;
    auto add = [&list](const char *arg) {
        list += arg;
        list += '\0';
    };
    add(argv[0]);
    if (!r->batch && r->in_file != nullptr)
        add(r->in_file);
    if (p->timeout != 60) {
        add("-timeout");
        add(std::to_string(p->timeout).c_str());
    }
    if (r->verbose)
        add("-verbose");
    std::free(p->wm_command);
    p->wm_command = static_cast<char *>(std::malloc(list.size()));
    if (p->wm_command == nullptr)
        OutOfMemory();
    std::memcpy(p->wm_command, list.data(), list.size());
    p->wm_command_len = static_cast<int>(list.size());
    return p->wm_command;
}

void usage()
{
    std::fprintf(stderr, catmsg(1, 394, "Usage: %s %s"), "orvimage", "...\n");
    std::fputs("    [-usage]\n"
               "    [-version]\n"
               "    [-verbose]\n"
               "    [-timeout <seconds>]\n"
               "    [-parley]\n"
               "    [-linear]\n"
               "    [-snapshot   [-region <WxH+X+Y>] | \n"
               "                 [-screen] | \n"
               "                 [-window <id>] ] \n"
               "    [-out <image prefix type>:<output file name>\n"
               "                 [-f]\n"
               "                 [-outType <image prefix type>] ]\n"
               "    [<image prefix type>:<input filename>\n"
               "                 [-inType <image prefix type>] ]\n",
               stderr);
    std::fprintf(stderr, "\n%s\n\n", catmsg(3, 1, "Supported types:"));
    const char *prefix_heading = catmsg(3, 2, "Image prefix type");
    std::fprintf(stderr, "%s    %s\n", prefix_heading, catmsg(3, 3, "Image file type"));
    int width = static_cast<int>(std::strlen(prefix_heading));
    for (int i = 0; i < ctypes; i++)
        std::fprintf(stderr, "%*s    %s\n", width, all_conversions[i].name,
                     all_types[all_conversions[i].type].display_name);
}

void parse_undefined(int argc, char **argv, int first)
{
    std::fprintf(stderr, catmsg(2, 1, "%s: command line option unknown:\n"), argv[0]);
    for (int i = first; i < argc; i++)
        std::fprintf(stderr, catmsg(2, 2, "option: %s\n"), argv[i]);
    std::fputs("\n", stderr);
    usage();
    std::exit(1);
}

void ShutdownCorvat()
{
    if (prog == nullptr)
        return;
    if (prog->catalog != (nl_catd)-1) {
        catclose(prog->catalog);
        prog->catalog = (nl_catd)-1;
    }
    char *files[] = {prog->tt_tmp, prog->compress_tmp, prog->decompress_tmp, prog->print_tmp1,
                     prog->print_tmp2};
    for (char *f : files)
        if (f != nullptr)
            unlink(f);
    remove_private_tmpdir();
}
