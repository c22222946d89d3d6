// imageinfo.h - the Image Information dialog.
#pragma once

#include <string>

struct ImageRec;
struct DisplayRec;

// The dialog's texts for a document shown on a display.
struct ImageInfoTexts {
    std::string height, width, colors, size, format;
};
ImageInfoTexts image_info_texts(const ImageRec *image, const DisplayRec *display);
// Fills the dialog (when it exists) from the image.
void update_imageinfo(ImageRec *image);
// Refreshes the dialog when it is showing.
void update_imageinfo_if_showing(ImageRec *image);
