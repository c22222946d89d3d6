// props.cc - the saved settings: the property table, the visual inventory,
// reading the settings files, the conversions, and the canvas depth and
// visual class that follow from them.
#include "dialogs/props.h"

#include <X11/Intrinsic.h>
#include <X11/Xutil.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "app/corvat.h"
#include "app/misc.h"
#include "dialogs/tessera.h"
#include "image/image.h"

const char *const resource_names[NPROPS] = {
    "ViewImageIn", "Colors", "DisplayPalette", "UseDSC", "ViewPostScriptIn", "TTTimeoutSecs",
};
const char *resource_defaults[NPROPS] = {
    "Color", "256", "True", "False", "Monochrome", "300",
};
PropResource resources[NPROPS];
PropsRec *current_props = nullptr;
XrmDatabase props_save_db = nullptr;

namespace {

// The "Colors" names, deepest first, with the depth each stands for.
struct ColorsName {
    const char *name;
    int depth;                  // bits
};
const ColorsName kColorsNames[] = {
    {"Millions", 24}, {"Thousands", 16}, {"256", 8}, {"16", 4}, {"BW", 1},
};

// The messaging wait is the time-out in milliseconds in an int.
constexpr long kMaxTimeoutSecs = INT_MAX / 1000;

VisualInventory inventory = {
    0, 0, 0, 0, 0, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 0,
};
VisualMatch match_override;

// The inventory's fields of one depth.
struct DepthMembers {
    int depth;                  // bits
    int VisualInventory::*has;
    int VisualInventory::*gray;
    int VisualInventory::*color;
};
const DepthMembers kDepthMembers[] = {
    {1, &VisualInventory::depth1, &VisualInventory::gray_vis1, &VisualInventory::color_vis1},
    {4, &VisualInventory::depth4, &VisualInventory::gray_vis4, &VisualInventory::color_vis4},
    {8, &VisualInventory::depth8, &VisualInventory::gray_vis8, &VisualInventory::color_vis8},
    {16, &VisualInventory::depth16, &VisualInventory::gray_vis16, &VisualInventory::color_vis16},
    {24, &VisualInventory::depth24, &VisualInventory::gray_vis24, &VisualInventory::color_vis24},
};

// Returns the fields of depth, or nullptr for depths the inventory lacks.
const DepthMembers *depth_members(int depth)
{
    for (const DepthMembers &m : kDepthMembers)
        if (m.depth == depth)
            return &m;
    return nullptr;
}

// Returns the display whose screen the image canvas uses, or nullptr.
Display *props_display()
{
    if (image_display != nullptr && image_display->xdisplay != nullptr)
        return image_display->xdisplay;
    return app_shell != nullptr ? XtDisplay(app_shell) : nullptr;
}

// Asks the X server of the image display's screen.
bool x_has_visual(int klass, int depth)
{
    Display *dpy = props_display();
    XVisualInfo vi;
    return dpy != nullptr && XMatchVisualInfo(dpy, DefaultScreen(dpy), depth, klass, &vi) != 0;
}

// Returns the deepest "Colors" name with a colour visual ("BW": any 1-bit
// visual), "256" when there is none.
const char *default_colors(const VisualInventory &inv)
{
    for (const ColorsName &c : kColorsNames) {
        bool fits = c.depth == 1 ? inventory_has_depth(inv, 1) != 0 : inventory_color_class(inv, c.depth) >= 0;
        if (fits)
            return c.name;
    }
    return "256";
}

// Returns the time-out text as seconds in [0, kMaxTimeoutSecs]; what atoi
// would read, without its overflow.
int parse_timeout(const char *text)
{
    errno = 0;
    long v = std::strtol(text, nullptr, 10);
    if (v > kMaxTimeoutSecs || (errno == ERANGE && v > 0))
        return static_cast<int>(kMaxTimeoutSecs);
    return v < 0 ? 0 : static_cast<int>(v);
}

} // namespace

void fill_visual_inventory(VisualInventory *inv, const VisualMatch &has_visual)
{
    for (const DepthMembers &m : kDepthMembers) {
        int &has = inv->*m.has, &gray = inv->*m.gray, &color = inv->*m.color;
        has = 0;
        gray = -1;
        color = -1;
        for (int klass = StaticGray; klass <= DirectColor; klass++) {
            if (!has_visual(klass, m.depth))
                continue;
            has = 1;
            if (klass <= GrayScale) {
                if (klass > gray)
                    gray = klass;
                continue;
            }
            bool keep = (m.depth != 24 && color == PseudoColor) || (m.depth == 24 && color == TrueColor);
            if (!keep && klass > color)
                color = klass;
        }
    }
    inv->gray_vis = inv->gray_vis1 >= 0 || inv->gray_vis4 >= 0 || inv->gray_vis8 >= 0 ||
                    inv->gray_vis16 >= 0 || inv->gray_vis24 >= 0;
    inv->color_vis = inv->color_vis1 >= 0 || inv->color_vis4 >= 0 || inv->color_vis8 >= 0 ||
                     inv->color_vis16 >= 0 || inv->color_vis24 >= 0;
}

void set_visual_match(VisualMatch match)
{
    match_override = std::move(match);
}

const VisualInventory &visual_inventory()
{
    return inventory;
}

int inventory_has_depth(const VisualInventory &inv, int depth)
{
    const DepthMembers *m = depth_members(depth);
    return m != nullptr ? inv.*m->has : 0;
}

int inventory_gray_class(const VisualInventory &inv, int depth)
{
    const DepthMembers *m = depth_members(depth);
    return m != nullptr ? inv.*m->gray : -1;
}

int inventory_color_class(const VisualInventory &inv, int depth)
{
    const DepthMembers *m = depth_members(depth);
    return m != nullptr ? inv.*m->color : -1;
}

int colors_to_depth(const char *colors)
{
    if (colors != nullptr)
        for (const ColorsName &c : kColorsNames)
            if (std::strcmp(colors, c.name) == 0)
                return c.depth;
    return 8;
}

void init_props()
{
    if (current_props == nullptr) {
        current_props = static_cast<PropsRec *>(std::calloc(1, sizeof(PropsRec)));
        if (current_props == nullptr)
            OutOfMemory();
    }
    if (match_override)
        fill_visual_inventory(&inventory, match_override);
    else
        fill_visual_inventory(&inventory, x_has_visual);
    resource_defaults[PROP_COLORS] = default_colors(inventory);
    free_resources();
    for (int i = 0; i < NPROPS; i++) {
        resources[i].name = xstrdup(resource_names[i]);
        resources[i].value = xstrdup(resource_defaults[i]);
    }
}

void set_props_defaults()
{
    init_props();
    for (int i = 0; i < NPROPS; i++)
        set_property(&resources[i]);
    current_props->dirty = 0;
}

void read_props(int at_startup)
{
    // 1-2. Defaults, then whatever the settings files hold.
    set_props_defaults();
    std::string path = ts_defaults_path();
    read_resources(path.empty() ? nullptr : path.c_str());

    // 3. The view must have a visual of its kind at the chosen depth.
    int depth = colors_to_depth(current_props->colors);
    if (std::strcmp(current_props->view_image_in, "Color") == 0) {
        if (inventory_color_class(inventory, depth) < 0)
            current_props->view_image_in = "GrayScale";
    } else if (inventory_gray_class(inventory, depth) < 0) {
        current_props->view_image_in = "Color";
    }

    // 4-5.  (A negative time-out was already made 0 by set_property.)
    current_props->view_postscript_in = psview_to_str(current_props->view_postscript_in);
    if (at_startup && prog != nullptr) {
        prog->ps_setting1 = std::strcmp(current_props->view_postscript_in, "Monochrome") == 0;
        prog->ps_setting2 = prog->ps_setting1 && inventory.color_vis;
    }
}

void read_resources(const char *path)
{
    // A save database from an earlier read would resurrect a removed file.
    if (props_save_db != nullptr)
        XrmDestroyDatabase(props_save_db);
    props_save_db = nullptr;
    struct stat st;
    if (path == nullptr || stat(path, &st) != 0)
        return;
    props_save_db = ts_load_tessera_defs();
    XrmDatabase merged = ts_load_resources(props_display());
    apply_settings_database(merged);
    if (merged != nullptr)
        XrmDestroyDatabase(merged);
}

void apply_settings_database(XrmDatabase db)
{
    for (int i = 0; i < NPROPS; i++) {
        const char *value = ts_get_resource(db, "corvat", resource_names[i]);
        if (value == nullptr)
            continue;
        replace_resource_value(i, value);
        set_property(&resources[i]);
    }
}

void set_property(const PropResource *resource)
{
    if (resource == nullptr || resource->name == nullptr || resource->value == nullptr)
        return;
    const char *v = resource->value;
    const char *n = resource->name;
    if (std::strcmp(n, "ViewImageIn") == 0)
        current_props->view_image_in = view_to_str(v);
    else if (std::strcmp(n, "Colors") == 0)
        current_props->colors = color_to_str(v);
    else if (std::strcmp(n, "DisplayPalette") == 0)
        current_props->display_palette = boolean_to_int(v);
    else if (std::strcmp(n, "UseDSC") == 0)
        current_props->use_dsc = boolean_to_int(v);
    else if (std::strcmp(n, "ViewPostScriptIn") == 0)
        current_props->view_postscript_in = psview_to_str(v);
    else if (std::strcmp(n, "TTTimeoutSecs") == 0)
        current_props->tt_timeout_secs = parse_timeout(v);
}

void replace_resource_value(int index, const char *value)
{
    if (index < 0 || index >= NPROPS || value == nullptr)
        return;
    char *copy = xstrdup(value);
    std::free(resources[index].value);
    resources[index].value = copy;
    if (resources[index].name == nullptr)
        resources[index].name = xstrdup(resource_names[index]);
}

void free_resources()
{
    for (PropResource &r : resources) {
        std::free(r.name);
        std::free(r.value);
        r.name = nullptr;
        r.value = nullptr;
    }
}

void set_dirty_flag(int flag)
{
    if (current_props != nullptr)
        current_props->dirty = flag != 0;
}

int boolean_to_int(const char *text)
{
    if (text == nullptr)
        return 1;
    for (const char *f : {"False", "FALSE", "false"})
        if (std::strcmp(text, f) == 0)
            return 0;
    return 1;
}

const char *int_to_boolean(int flag)
{
    return flag ? "True" : "False";
}

const char *view_to_str(const char *text)
{
    bool color = text != nullptr && std::strcmp(text, "Color") == 0;
    bool gray = text != nullptr && std::strcmp(text, "GrayScale") == 0;
    if (color && inventory.color_vis)
        return "Color";
    if (gray && inventory.gray_vis)
        return "GrayScale";
    if (inventory.color_vis)
        return "Color";
    return inventory.gray_vis ? "GrayScale" : "Color";
}

const char *psview_to_str(const char *text)
{
    if (text != nullptr && std::strcmp(text, "Color") == 0 && inventory.color_vis)
        return "Color";
    return "Monochrome";
}

const char *color_to_str(const char *text)
{
    if (text != nullptr)
        for (const ColorsName &c : kColorsNames)
            if (std::strcmp(text, c.name) == 0 && inventory_has_depth(inventory, c.depth))
                return c.name;
    for (const ColorsName &c : kColorsNames)
        if (inventory_has_depth(inventory, c.depth))
            return c.name;
    return "256";
}

int canvas_depth_value()
{
    return colors_to_depth(current_props != nullptr ? current_props->colors : nullptr);
}

int canvas_visual_class(int depth)
{
    bool color = current_props == nullptr || std::strcmp(current_props->view_image_in, "Color") == 0;
    int klass = color ? inventory_color_class(inventory, depth) : -1;
    if (klass < 0)
        klass = inventory_gray_class(inventory, depth);
    return klass < 0 ? PseudoColor : klass;
}
