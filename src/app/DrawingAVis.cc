// DrawingAVis.cc - the XmDrawingAreaVis widget class and the shells'
// colormap-window lists.
#include "app/DrawingAVis.h"

#include <X11/IntrinsicP.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <Xm/BaseClassP.h>
#include <Xm/DrawingAP.h>
#include <Xm/RepType.h>
#include <Xm/XmP.h>

#include <algorithm>
#include <cstddef>
#include <vector>

extern "C" void _XmDrawingAreaInput(Widget, XEvent *, String *, Cardinal *);

namespace {

// --- instance and class records ---------------------------------------------

struct XmDrawingAreaVisPart {
    Visual *visual; // 0: the parent's
};

struct XmDrawingAreaVisRec {
    CorePart core;
    CompositePart composite;
    ConstraintPart constraint;
    XmManagerPart manager;
    XmDrawingAreaPart drawing_area;
    XmDrawingAreaVisPart vis;
};

struct XmDrawingAreaVisConstraintRec {
    XmManagerConstraintPart manager;
    XmDrawingAreaConstraintPart drawing_area;
};

struct XmDrawingAreaVisClassPart {
    XtPointer extension;
};

struct XmDrawingAreaVisClassRec {
    CoreClassPart core_class;
    CompositeClassPart composite_class;
    ConstraintClassPart constraint_class;
    XmManagerClassPart manager_class;
    XmDrawingAreaClassPart drawing_area_class;
    XmDrawingAreaVisClassPart vis_class;
};

using VisWidget = XmDrawingAreaVisRec *;

// --- the colormap-window list of each shell -----------------------------------

struct CMShellList {
    Widget shell;
    std::vector<Widget> widgets; // newest first
};
std::vector<CMShellList> cm_shells;

Widget _XmGetShellOfWidget(Widget w)
{
    while (w != nullptr && !XtIsShell(w))
        w = XtParent(w);
    return w;
}

CMShellList *_FindShellItem(Widget shell)
{
    for (CMShellList &item : cm_shells)
        if (item.shell == shell)
            return &item;
    return nullptr;
}

CMShellList *_AddShellItem(Widget shell)
{
    cm_shells.insert(cm_shells.begin(), CMShellList{shell, {}});
    return &cm_shells.front();
}

// Puts w at the front of the list unless it is there; true when added.
bool _AddWidgetItem(CMShellList *item, Widget w)
{
    if (std::find(item->widgets.begin(), item->widgets.end(), w) != item->widgets.end())
        return false;
    item->widgets.insert(item->widgets.begin(), w);
    return true;
}

bool _DelWidgetItem(CMShellList *item, Widget w)
{
    auto it = std::find(item->widgets.begin(), item->widgets.end(), w);
    if (it == item->widgets.end())
        return false;
    item->widgets.erase(it);
    return true;
}

void set_wm_colormap_windows(CMShellList *item)
{
    if (item->shell == nullptr || item->shell->core.being_destroyed)
        return;
    if (!item->widgets.empty()) {
        XtSetWMColormapWindows(item->shell, item->widgets.data(),
                               static_cast<Cardinal>(item->widgets.size()));
    } else if (XtIsRealized(item->shell)) {
        // The toolkit ignores an empty list: remove the property itself.
        Display *dpy = XtDisplay(item->shell);
        XDeleteProperty(dpy, XtWindow(item->shell),
                        XInternAtom(dpy, "WM_COLORMAP_WINDOWS", False));
    }
}

void _XmAddWMColormapWindows(Widget w)
{
    Widget shell = _XmGetShellOfWidget(w);
    if (shell == nullptr)
        return;
    CMShellList *item = _FindShellItem(shell);
    if (item == nullptr)
        item = _AddShellItem(shell);
    if (_AddWidgetItem(item, w))
        set_wm_colormap_windows(item);
}

void _XmDelWMColormapWindows(Widget w)
{
    Widget shell = _XmGetShellOfWidget(w);
    CMShellList *item = shell != nullptr ? _FindShellItem(shell) : nullptr;
    if (item != nullptr && _DelWidgetItem(item, w))
        set_wm_colormap_windows(item);
}

// --- class methods ------------------------------------------------------------------

// Returns the colormap for a widget of the given visual: the default one
// for the default visual; else a standard colormap of the root's
// RGB_DEFAULT_MAP for a dynamic visual, or a new empty colormap.
Colormap CvtVisualToColormap(Widget w, Visual *visual)
{
    Display *dpy = XtDisplay(w);
    Screen *screen = XtScreen(w);
    if (visual == DefaultVisualOfScreen(screen))
        return DefaultColormapOfScreen(screen);
    Widget parent = XtParent(w);
    if (parent != nullptr && w->core.colormap != parent->core.colormap)
        return w->core.colormap;
    int klass = visual->c_class;
    if (klass == GrayScale || klass == PseudoColor || klass == DirectColor) {
        XStandardColormap *maps = nullptr;
        int count = 0;
        if (XGetRGBColormaps(dpy, RootWindowOfScreen(screen), &maps, &count, XA_RGB_DEFAULT_MAP)) {
            Colormap found = 0;
            for (int i = 0; i < count && found == 0; i++)
                if (maps[i].visualid == XVisualIDFromVisual(visual))
                    found = maps[i].colormap;
            XFree(maps);
            if (found != 0)
                return found;
        }
    }
    return XCreateColormap(dpy, RootWindowOfScreen(screen), visual, AllocNone);
}

void ClassInitialize();
void ClassPartInitialize(WidgetClass wc);
void Initialize(Widget request, Widget created, ArgList args, Cardinal *num_args);
void Realize(Widget w, XtValueMask *mask, XSetWindowAttributes *attributes);
void Destroy(Widget w);
void Redisplay(Widget w, XEvent *event, Region region);
Boolean SetValues(Widget current, Widget request, Widget created, ArgList args,
                  Cardinal *num_args);

XtActionsRec actions[] = {
    {const_cast<String>("DrawingAreaInput"), _XmDrawingAreaInput},
};

XtResource resources[] = {
    {const_cast<String>(XmNvisual), const_cast<String>(XmCVisual), const_cast<String>(XtRVisual),
     sizeof(Visual *), offsetof(XmDrawingAreaVisRec, vis.visual), const_cast<String>(XtRImmediate),
     nullptr},
};

XmSyntheticResource syn_resources[] = {
    {const_cast<String>(XmNmarginWidth), sizeof(Dimension),
     offsetof(XmDrawingAreaVisRec, drawing_area.margin_width), XmeFromHorizontalPixels,
     XmeToHorizontalPixels},
    {const_cast<String>(XmNmarginHeight), sizeof(Dimension),
     offsetof(XmDrawingAreaVisRec, drawing_area.margin_height), XmeFromVerticalPixels,
     XmeToVerticalPixels},
};

XmBaseClassExtRec base_class_extension = {
    nullptr,                    // next extension
    NULLQUARK,                  // record type, set at class initialisation
    XmBaseClassExtVersion,      // version
    sizeof(XmBaseClassExtRec),  // record size
    nullptr,                    // initialize prehook
    nullptr,                    // set values prehook
    nullptr,                    // initialize posthook
    nullptr,                    // set values posthook
    nullptr,                    // secondary object class
    nullptr,                    // secondary object create
    nullptr,                    // get secondary resource data
    {0},                        // fast subclass flags
    nullptr,                    // get values prehook
    nullptr,                    // get values posthook
    nullptr,                    // class part init prehook
    nullptr,                    // class part init posthook
    nullptr,                    // ext resources
    nullptr,                    // compiled ext resources
    0,                          // num ext resources
    False,                      // use sub resources
    XmInheritWidgetNavigable,   // widget navigable
    nullptr,                    // focus change
    nullptr,                    // wrapper data
};

} // namespace

extern "C" {
XmDrawingAreaVisClassRec xmDrawingAreaVisClassRec = {
    {
        // core
        reinterpret_cast<WidgetClass>(&xmDrawingAreaClassRec), // superclass
        const_cast<String>("XmDrawingAreaVis"),                 // class name
        sizeof(XmDrawingAreaVisRec),                            // widget size
        ClassInitialize,                                        // class initialize
        ClassPartInitialize,                                    // class part initialize
        False,                                                  // class inited
        Initialize,                                             // initialize
        nullptr,                                                // initialize hook
        Realize,                                                // realize
        actions,                                                // actions
        XtNumber(actions),                                      // num actions
        resources,                                              // resources
        XtNumber(resources),                                    // num resources
        NULLQUARK,                                              // xrm class
        True,                                                   // compress motion
        XtExposeNoCompress,                                     // compress exposure
        True,                                                   // compress enter/leave
        False,                                                  // visible interest
        Destroy,                                                // destroy
        XtInheritResize,                                        // resize
        Redisplay,                                              // expose
        SetValues,                                              // set values
        nullptr,                                                // set values hook
        XtInheritSetValuesAlmost,                               // set values almost
        nullptr,                                                // get values hook
        nullptr,                                                // accept focus
        XtVersion,                                              // version
        nullptr,                                                // callback private
        XtInheritTranslations,                                  // tm table
        XtInheritQueryGeometry,                                 // query geometry
        nullptr,                                                // display accelerator
        reinterpret_cast<XtPointer>(&base_class_extension),    // extension
    },
    {
        // composite
        XtInheritGeometryManager, XtInheritChangeManaged, XtInheritInsertChild,
        XtInheritDeleteChild, nullptr,
    },
    {
        // constraint: none of its own
        nullptr, 0, sizeof(XmDrawingAreaVisConstraintRec), nullptr, nullptr, nullptr, nullptr,
    },
    {
        // manager
        XtInheritTranslations,      // translations: none of its own
        syn_resources,              // synthetic resources
        XtNumber(syn_resources),
        nullptr,                    // synthetic constraint resources
        0,
        XmInheritParentProcess,     // parent process
        nullptr,                    // extension
    },
    {nullptr}, // drawing area
    {nullptr}, // drawing area vis
};

WidgetClass xmDrawingAreaVisWidgetClass = reinterpret_cast<WidgetClass>(&xmDrawingAreaVisClassRec);
}

namespace {

// Motif's representation type of resize policies.
XmRepTypeId resize_policy_id()
{
    static XmRepTypeId id = XmRepTypeGetId(const_cast<String>(XmRResizePolicy));
    return id;
}

void ClassInitialize()
{
    base_class_extension.record_type = XmQmotif;
}

void ClassPartInitialize(WidgetClass wc)
{
    XmBaseClassExt *ext = _XmGetBaseClassExtPtr(wc, XmQmotif);
    if (ext != nullptr && *ext != nullptr)
        _XmSetFlagsBit((*ext)->flags, XmDRAWING_AREA_BIT);
}

void Initialize(Widget, Widget created, ArgList, Cardinal *)
{
    VisWidget w = reinterpret_cast<VisWidget>(created);
    Visual *visual = w->vis.visual;
    if (visual != nullptr) {
        XVisualInfo tmpl;
        tmpl.visualid = XVisualIDFromVisual(visual);
        tmpl.screen = XScreenNumberOfScreen(XtScreen(created));
        tmpl.c_class = visual->c_class;
        int n = 0;
        XVisualInfo *info = XGetVisualInfo(XtDisplay(created),
                                           VisualIDMask | VisualScreenMask | VisualClassMask, &tmpl, &n);
        if (info != nullptr && n > 0) {
            created->core.depth = static_cast<Cardinal>(info[0].depth);
            XFree(info);
        } else {
            XtWarning("Bad visual.");
        }
        created->core.colormap = CvtVisualToColormap(created, visual);
    }
    if (!XmRepTypeValidValue(resize_policy_id(), w->drawing_area.resize_policy, created))
        w->drawing_area.resize_policy = XmRESIZE_ANY;
}

void Realize(Widget widget, XtValueMask *mask, XSetWindowAttributes *attributes)
{
    VisWidget w = reinterpret_cast<VisWidget>(widget);
    if (widget->core.width == 0)
        widget->core.width = 1;
    if (widget->core.height == 0)
        widget->core.height = 1;
    *mask |= CWBitGravity | CWDontPropagate;
    attributes->bit_gravity = NorthWestGravity;
    attributes->do_not_propagate_mask =
        KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask;
    Visual *visual = w->vis.visual != nullptr ? w->vis.visual : CopyFromParent;
    XtCreateWindow(widget, InputOutput, visual, *mask, attributes);
    if (w->vis.visual != nullptr)
        _XmAddWMColormapWindows(widget);
}

void Destroy(Widget w)
{
    _XmDelWMColormapWindows(w);
}

void Redisplay(Widget widget, XEvent *event, Region region)
{
    VisWidget w = reinterpret_cast<VisWidget>(widget);
    XmDrawingAreaCallbackStruct cb;
    cb.reason = XmCR_EXPOSE;
    cb.event = event;
    cb.window = XtWindow(widget);
    XtCallCallbackList(widget, w->drawing_area.expose_callback, &cb);
    XmeRedisplayGadgets(widget, event, region);
}

Boolean SetValues(Widget current, Widget, Widget created, ArgList, Cardinal *)
{
    VisWidget old_w = reinterpret_cast<VisWidget>(current);
    VisWidget new_w = reinterpret_cast<VisWidget>(created);
    if (new_w->vis.visual != old_w->vis.visual) {
        new_w->vis.visual = old_w->vis.visual;
        XtWarning("Cannot change drawing area's XmNvisual.");
    }
    if (!XmRepTypeValidValue(resize_policy_id(), new_w->drawing_area.resize_policy, created))
        new_w->drawing_area.resize_policy = old_w->drawing_area.resize_policy;
    return False;
}

} // namespace

Widget XmCreateDrawingAreaVis(Widget parent, const char *name, ArgList args, Cardinal count)
{
    return XtCreateWidget(name, xmDrawingAreaVisWidgetClass, parent, args, count);
}

int colormap_windows_of(Widget shell, Widget **widgets)
{
    CMShellList *item = _FindShellItem(shell);
    if (item == nullptr) {
        *widgets = nullptr;
        return 0;
    }
    *widgets = item->widgets.data();
    return static_cast<int>(item->widgets.size());
}
