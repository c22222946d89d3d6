// save.h - writing the current document to a file: the Save and Save As
// dialogs, the checks and questions before writing, Unix compression of the
// result, and the batch saver.
#pragma once

#include <X11/Intrinsic.h>

#include <cstddef>

struct AppResources;
struct FormatEntry;
struct ImageRec;

// Save kinds: the second argument of save_newfile and the client data of the
// menu items.
enum { SAVE_PLAIN = 4, SAVE_AS = 5, SAVE_SELECTION = 6, SAVE_PAGE = 7 };

// The Save As dialog, made on first use and kept until exit.
struct SaveAsRec {
    Widget shell;               // "SaveAsShell"
    Widget dialog;              // "SaveAsDialog", a file selection box
    Widget label;               // "FileFormatLabel"
    Widget list;                // "PrinterList": the writable formats
    Widget compression_menu;    // "CompressionOptionMenu"
    Widget none_item, unix_item, encoded_item, lzw_item;
    Widget colors_menu;         // "ColorsOptionMenu"
    Widget bw_item, colors256_item, millions_item;
    int showing;
    int outcome;                // -1 none yet, 0 saved, 1 cancelled or failed
    char help[64];              // help location of the kind shown
};

extern Widget save_dialog;      // "SaveDialog", or nullptr before first use
extern int save_showing;
extern SaveAsRec *saveas;       // nullptr before first use

// Menu callbacks; SaveAsCallback takes the kind (5, 6 or 7) as client data.
void SaveCallback(Widget w, XtPointer client, XtPointer call);
void SaveAsCallback(Widget w, XtPointer client, XtPointer call);
void SaveOKCallback(Widget w, XtPointer client, XtPointer call);
void SaveAsOKCallback(Widget w, XtPointer client, XtPointer call);
void SaveCancelCallback(Widget w, XtPointer client, XtPointer call);
void SaveAsCancelCallback(Widget w, XtPointer client, XtPointer call);
// The format list's browse selection: sets the option menus for the row.
void SaveFormatListCallback(Widget w, XtPointer client, XtPointer call);

// Saves the current document to path as the kind says; the saved file then
// becomes the current document.  Returns >= 0 saved (or nothing to do), < 0
// refused, cancelled or failed (the user has been told, or nothing happened).
int save_newfile(const char *path, int kind);
// 0 when path may be written; -1 it cannot be created; -2 refused (alert).
int check_save_file(const char *path);
// Asks whether a lossy JFIF file is wanted; 1 go on, 0 stop.
int confirm_data_loss();
// Asks before replacing an existing file (and, for Unix compression, the
// other name the save will write); 1 go on, 0 stop.
int confirm_overwrite_file(const char *path, int compression);
// Copies the current PostScript document's file unchanged to the new
// record's path.  0 copied or nothing to do, -1 failed, -2 refused (alert).
int save_entire_ps_file(ImageRec *new_image, ImageRec *current);
// 1 when the format row has a save function.
int save_format_supported(const FormatEntry *row);

// The option menus of the Save As dialog for a format code.
void set_colors_value(int code);
void set_compression_value(int code);
// Returns the compression code for a label: "None" 0, "Unix" 1, "Encoded"
// 2, "LZW" 3, anything else 0.
int string_to_compression(const char *label);
// Returns the text an option menu shows (its current choice).
char *option_menu_label(Widget menu, char *buffer, std::size_t size);

// Refreshes the Open and Open As dialogs after a save from the Save dialog
// (which = 4) or the Save As dialog.
void reread_file_choosers(int which);

// 1 when the batch output may be written, 0 after a message.
int BatchCheckSaveFile(AppResources *r);
// Converts the current image for the output format and writes it; 1 when
// written, 0 on failure.
int BatchSaveFile(AppResources *r);

// Retitles a showing Save As dialog for a selection (on) or back.
void retitle_save_as_for_selection(int on);
// After a new document: dismisses a showing Save Selection As dialog,
// retitles Save As / Save Page As Image for the kind of document, and puts
// the document's name into the Save dialog.
void saveas_document_changed(int postscript);
