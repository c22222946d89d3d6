// corvat.h - start-up: the program record, the resource record, the command
// line, the batch path and the exit handler.
#pragma once

#include <X11/Intrinsic.h>
#include <nl_types.h>

struct ProgRec {
    char *name;                 // display title, "Lumora" from the catalog
    const char *rel;            // version, "1.2.2"
    char *directory;            // current directory; file choosers start here
    char hostname[256];
    char *server_address;       // set by make_server_address
    int dps_exists;             // Display PostScript is available
    int remote;                 // the display is on another host
    int ps_canvas_created;
    int image_canvas_created;
    int main_window_mapped;
    int dt_db_loaded;           // -1 until the data typing is loaded
    int def_ps_zoom;            // default zoom, percent
    char *wm_command;           // NUL-separated restart arguments
    int wm_command_len;         // bytes, each argument with its NUL
    int tt_mode;                // started with -parley
    int snap_dialog_at_start;   // -snapshot without a capture operation
    int tt_state1, tt_state2;   // desktop-messaging state
    char *tmp_base;             // "<private tmp folder>/orvimage<pid>", see tmp_file_base
    char *tt_tmp;               // temporary files named by make_tmpfile:
    char *compress_tmp;         //   compressed-data copy
    char *decompress_tmp;       //   decompressed or converter input
    char *print_tmp1;
    char *print_tmp2;
    char *printer;              // default printer name
    int timeout;                // PostScript time-out, seconds
    int verbose;                // verbose level; non-zero prints diagnostics
    int uid, gid;               // effective user and group ids
    nl_catd catalog;
    int input_from_stdin;
    char *stdin_copy;           // temporary file holding standard input
    int output_to_stdout;
    int ps_setting1;
    int ps_setting2;
    int ps_paging;
};

struct AppResources {
    char *name;
    char *title;
    char *geometry;
    char *icon_name;
    char *visual;
    char *session;
    Boolean snapshot;
    Boolean parley;
    Boolean verbose;
    Boolean version;
    Boolean usage;
    Boolean start_capture;
    Boolean batch;
    Boolean overwrite;
    char *out_type;
    char *out_file;
    int out_format;             // row of all_types
    char *in_type;
    char *in_file;
    int in_format;              // row of all_types; 44 = detect
    Cardinal timeout;
    char *window;
    int window_id;
    char *region;
    int region_x, region_y, region_width, region_height;
    Boolean screen;
    Boolean linear;
    Boolean interactive;        // choose the window or region with the pointer
};

extern ProgRec *prog;
extern AppResources *appresources;

struct ConversionEntry {
    const char *name;           // command-line type prefix, matched without case
    int type;                   // row of all_types
};
extern const ConversionEntry all_conversions[];
extern const int ctypes;

// Number of command-line options and application resources.
extern const int n_options;
extern const XrmOptionDescRec options[];
extern const int n_app_resources;
extern XtResource app_resources[];
extern const char *fallbacks[];

// Returns the program record, allocated and pre-filled; it lives for the run.
ProgRec *pre_init_prog();
// Opens the catalog, sets the display title, reads the current directory.
void complete_init_prog(ProgRec *p);

void parse_args(ProgRec *p, AppResources *r, int argc, char **argv);
void parse_args_snapshot(ProgRec *p, AppResources *r, int *argc, char **argv);
// Returns the all_types row for a prefix name (case-insensitive), or -1.
int parse_image_type(const char *name);
// Returns the absolute input path (malloc'ed), or nullptr without input.
char *parse_input_filename(ProgRec *p, AppResources *r);
// Returns a new file (created, empty) "<tmpdir>/<stem>.XXXXXX"; malloc'ed name.
char *create_tmp_file_name(const char *stem);
// Builds the window-manager restart command into the program record.
char *parse_compile_wm_command(ProgRec *p, AppResources *r, char **argv);
void usage();
[[noreturn]] void parse_undefined(int argc, char **argv, int first);
void ShutdownCorvat();
// Returns the temporary-file base, making the private folder on first use;
// nullptr when it cannot be made.
const char *tmp_file_base();

// The application context and the main shell; nullptr without a display.
extern XtAppContext app_context;
extern Widget app_shell;
// Waits for and dispatches one event (the main loop and nested loops).
void process_one_event();

// The X error handler installed at start-up.
int corvat_x_error_handler(Display *dpy, XErrorEvent *ev);

// The first steps of start-up: the program record, the toolkit (with a
// display when one opens), the resource record and the catalog.  Returns
// true when a display was opened.  Tests start the program's code with it.
bool corvat_init_toolkit(int *argc, char **argv);
// The whole start-up sequence; runs the event loop and never returns.
[[noreturn]] void corvat_main(int argc, char **argv);
