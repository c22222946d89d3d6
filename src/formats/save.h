// save.h - writing the current document to a file, and the batch saver.
#pragma once

struct AppResources;

// 1 when the batch output may be written, 0 after a message.
int BatchCheckSaveFile(AppResources *r);
// Converts the current image for the output format and writes it; 1 when
// written, 0 on failure.
int BatchSaveFile(AppResources *r);

// Retitles a showing Save As dialog for a selection (on) or back.
void retitle_save_as_for_selection(int on);
// Retitles or dismisses a showing Save As dialog after a new document.
void saveas_document_changed(int postscript);
