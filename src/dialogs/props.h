// props.h - the viewer's saved settings: the property table, the current
// values, the inventory of the screen's visuals that the settings are
// checked against, and the conversions between stored texts and values.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xresource.h>

#include <functional>

// Indices of the property table.
enum {
    PROP_VIEW_IMAGE_IN = 0,
    PROP_COLORS = 1,
    PROP_DISPLAY_PALETTE = 2,
    PROP_USE_DSC = 3,
    PROP_VIEW_POSTSCRIPT_IN = 4,
    PROP_TT_TIMEOUT_SECS = 5,
    NPROPS = 6
};

// The property names ("ViewImageIn", ...) and their default texts.  The
// default of "Colors" is set by init_props from the visual inventory.
extern const char *const resource_names[NPROPS];
extern const char *resource_defaults[NPROPS];

// One property's name and the last value read or written; both malloc'ed.
struct PropResource {
    char *name;
    char *value;
};
extern PropResource resources[NPROPS];

// The current settings.  The texts are always one of the literals the
// conversions return, so nobody frees them.
struct PropsRec {
    const char *view_image_in;      // "Color" or "GrayScale"
    const char *colors;             // "BW", "16", "256", "Thousands" or "Millions"
    int display_palette;            // 1: open the palette with the first image
    int use_dsc;                    // 1: treat every PostScript document as DSC
    const char *view_postscript_in; // "Color" or "Monochrome"
    int tt_timeout_secs;            // seconds a messaging request may block, >= 0
    unsigned char dirty;            // 1: the Options dialog has unapplied changes
};
// Allocated by init_props; lives for the run.  nullptr before.
extern PropsRec *current_props;

// The settings file loaded alone, into which the Options dialog puts its
// values before saving; nullptr when there was no file.  Owned here.
extern XrmDatabase props_save_db;

// What the screen offers at depths 1, 4, 8, 16 and 24.  Classes are X visual
// classes (StaticGray 0 ... DirectColor 5), -1 for none.
struct VisualInventory {
    int depth1, depth4, depth8, depth16, depth24;                // 1: a visual of that depth exists
    int gray_vis1, gray_vis4, gray_vis8, gray_vis16, gray_vis24; // best grey class
    int color_vis1, color_vis4, color_vis8, color_vis16, color_vis24; // best colour class
    int gray_vis;               // 1: some grey class was found
    int color_vis;              // 1: some colour class was found
};

// Answers "is there a visual of class klass at depth depth".
using VisualMatch = std::function<bool(int klass, int depth)>;

// Fills inv from has_visual: per depth the highest grey class and the
// highest colour class, except that PseudoColor is kept at 4, 8 and 16
// bits and TrueColor at 24 bits once found.
void fill_visual_inventory(VisualInventory *inv, const VisualMatch &has_visual);

// Replaces the question init_props asks (tests); an empty function restores
// XMatchVisualInfo on the image display's screen.
void set_visual_match(VisualMatch match);

// Returns the inventory of the last init_props (all -1 and 0 before).
const VisualInventory &visual_inventory();

// Per-depth lookups in an inventory; depths other than 1, 4, 8, 16 and 24
// have nothing.
int inventory_has_depth(const VisualInventory &inv, int depth);
int inventory_gray_class(const VisualInventory &inv, int depth);
int inventory_color_class(const VisualInventory &inv, int depth);

// Returns the depth a "Colors" text names: "BW" 1, "16" 4, "256" 8,
// "Thousands" 16, "Millions" 24, anything else (and nullptr) 8.
int colors_to_depth(const char *colors);

// Allocates current_props when needed, takes the visual inventory and fills
// resources with copies of the names and the defaults.
void init_props();
// Runs init_props and sets every current value to its default; clears the
// dirty byte.
void set_props_defaults();
// Reads the settings: defaults, then the merged settings databases when the
// per-user settings file exists, then makes them fit the screen.  At start-up
// (at_startup 1) also sets the program's PostScript colour flags.
void read_props(int at_startup);
// Drops the old props_save_db; when the settings file at path (nullptr:
// none) exists, loads it as props_save_db and takes every property found in
// the merged database (ts_load_resources).
void read_resources(const char *path);
// Takes every property that db holds into resources and current_props.
void apply_settings_database(XrmDatabase db);
// Converts a resource's value into current_props.
void set_property(const PropResource *resource);
// Replaces the stored value of property index (copied).
void replace_resource_value(int index, const char *value);
// Frees the names and values in resources.
void free_resources();
void set_dirty_flag(int flag);

// Conversions.  The texts returned are literals.
int boolean_to_int(const char *text);
const char *int_to_boolean(int flag);
const char *view_to_str(const char *text);
const char *psview_to_str(const char *text);
const char *color_to_str(const char *text);

// Returns the image canvas depth the settings ask for: 1, 4, 8, 16 or 24.
int canvas_depth_value();
// Returns the X visual class for a canvas of that depth: the colour class
// when the view is "Color" and one exists there, else the grey class, else
// PseudoColor.
int canvas_visual_class(int depth);
