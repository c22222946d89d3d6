// Saving from the main window: the Save As choices per format, the
// questions and refusals with their words, Unix compression, failures that
// must leave the old file and the shown picture alone, and the saved file
// becoming the current document.
#include "x11_support.h"

#include <Xm/FileSB.h>
#include <Xm/List.h>
#include <Xm/PushBG.h>
#include <Xm/TextF.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>

#include "app/alert.h"
#include "app/ui_corvat.h"
#include "formats/fileui.h"
#include "formats/open.h"
#include "formats/save.h"
#include "formats/savefile.h"
#include "image/canvas.h"
#include "image/display.h"
#include "image/image.h"
#include "image/state.h"
#include "image/vela_iface.h"

namespace {

// Answers alerts as they appear, in order, with the given buttons; alerts
// beyond the script are answered with their first button and counted, so
// that a test fails instead of hanging.
class AlertScript {
public:
    explicit AlertScript(std::vector<std::string> buttons) : buttons_(std::move(buttons))
    {
        timer_ = XtAppAddTimeOut(app_context, 20, Tick, this);
    }
    ~AlertScript() { XtRemoveTimeOut(timer_); }
    AlertScript(const AlertScript &) = delete;
    AlertScript &operator=(const AlertScript &) = delete;

    std::vector<AlertSeen> seen;
    int unexpected = 0;

    std::string message(size_t i) const { return i < seen.size() ? seen[i].message : "<none>"; }

private:
    static void Tick(XtPointer client, XtIntervalId *)
    {
        auto *self = static_cast<AlertScript *>(client);
        self->answer();
        self->timer_ = XtAppAddTimeOut(app_context, 20, Tick, self);
    }
    void answer()
    {
        Widget dialog = newest_alert();
        if (dialog == nullptr)
            return;
        AlertSeen s;
        char *title = nullptr;
        XtVaGetValues(XtParent(dialog), XmNtitle, &title, nullptr);
        XmString text = nullptr;
        XtVaGetValues(dialog, XmNmessageString, &text, nullptr);
        char buf[4096];
        s.title = title != nullptr ? title : "";
        s.message = ConvertCompoundToChar(text, buf, sizeof buf);
        s.seen = true;
        XmStringFree(text);
        seen.push_back(s);
        Widget button = nullptr;
        if (seen.size() <= buttons_.size())
            button = find_button(dialog, buttons_[seen.size() - 1].c_str());
        if (button == nullptr) {
            unexpected++;
            button = find_button(dialog, nullptr);
        }
        if (button != nullptr)
            XtCallCallbacks(button, XmNactivateCallback, nullptr);
    }
    // Returns the shown button of that name (the first one without a name).
    // The message box keeps its own unmanaged "Cancel", which would only
    // hide the alert.
    static Widget find_button(Widget dialog, const char *name)
    {
        WidgetList children = nullptr;
        Cardinal n = 0;
        XtVaGetValues(dialog, XmNchildren, &children, XmNnumChildren, &n, nullptr);
        for (Cardinal i = 0; i < n; i++) {
            Widget w = children[i];
            if (!XmIsPushButtonGadget(w) || !XtIsManaged(w))
                continue;
            if (name != nullptr ? std::strcmp(XtName(w), name) == 0
                                : std::strcmp(XtName(w), "Help") != 0)
                return w;
        }
        return nullptr;
    }
    std::vector<std::string> buttons_;
    XtIntervalId timer_;
};

std::string title()
{
    char *t = nullptr;
    XtVaGetValues(app_shell, XmNtitle, &t, nullptr);
    return t != nullptr ? t : "";
}

std::string saveas_shell_title()
{
    char *t = nullptr;
    XtVaGetValues(saveas->shell, XmNtitle, &t, nullptr);
    return t != nullptr ? t : "";
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

bool exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Names in a folder that a save may leave behind by mistake.
std::vector<std::string> leftovers(const std::string &dir)
{
    std::vector<std::string> found;
    DIR *d = opendir(dir.c_str());
    if (d == nullptr)
        return found;
    while (dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != ".." && n[0] == '.')
            found.push_back(n);
    }
    closedir(d);
    return found;
}

const unsigned char band_colours[8][3] = {{255, 0, 0},   {0, 255, 0},   {0, 0, 255},
                                          {255, 255, 0}, {0, 255, 255}, {255, 0, 255},
                                          {0, 0, 0},     {255, 255, 255}};

// Eight flat colour bands, each 8 columns wide: compresses well.
std::vector<unsigned char> bands_rgb(int w, int h)
{
    std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            std::memcpy(&rgb[3 * (static_cast<size_t>(y) * w + x)], band_colours[(x / 8) % 8], 3);
    return rgb;
}

// Noise: compress(1) cannot make it smaller.
std::vector<unsigned char> noise_rgb(int w, int h)
{
    std::mt19937 gen(12345);
    std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
    for (unsigned char &b : rgb)
        b = static_cast<unsigned char>(gen());
    return rgb;
}

// Returns the label of a list item as text.
std::vector<std::string> list_items(Widget list)
{
    XmStringTable items = nullptr;
    int count = 0;
    XtVaGetValues(list, XmNitems, &items, XmNitemCount, &count, nullptr);
    std::vector<std::string> out;
    for (int i = 0; i < count; i++) {
        char buf[256];
        out.push_back(ConvertCompoundToChar(items[i], buf, sizeof buf));
    }
    return out;
}

std::string label_of(Widget menu)
{
    char buf[256];
    return option_menu_label(menu, buf, sizeof buf);
}

// Which of the items are sensitive, as a string of 0 and 1.
std::string sensitivity(std::initializer_list<Widget> items)
{
    std::string s;
    for (Widget w : items)
        s += XtIsSensitive(w) ? '1' : '0';
    return s;
}

std::string colours_state()
{
    return sensitivity({saveas->bw_item, saveas->colors256_item, saveas->millions_item}) + " " +
           label_of(saveas->colors_menu);
}

std::string compression_state()
{
    return sensitivity({saveas->none_item, saveas->unix_item, saveas->encoded_item,
                        saveas->lzw_item}) +
           " " + label_of(saveas->compression_menu);
}

class SaveFlow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ensure_main_window());
        static int n = 0;
        dir = test_folder() + "/save" + std::to_string(++n);
        mkdir(dir.c_str(), 0755);
        picture = write_raster_24(dir + "/pic.ras", 64, 20, bands_rgb(64, 20));
        ASSERT_EQ(open(picture), 0);
    }
    void TearDown() override
    {
        savefile_fail_commit = false;
        if (saveas != nullptr && saveas->showing)
            SaveAsCancelCallback(nullptr, nullptr, nullptr);
        if (save_dialog != nullptr && save_showing)
            SaveCancelCallback(nullptr, nullptr, nullptr);
        flush_events();
    }

    int open(const std::string &path)
    {
        int rc = open_newfile(path.c_str(), path.c_str(), -1, nullptr, 0);
        flush_events();
        return rc;
    }

    // Shows the Save As dialog for a kind, with a format chosen in its list.
    void show_save_as(const char *format, int kind = SAVE_AS)
    {
        SaveAsCallback(nullptr, reinterpret_cast<XtPointer>(static_cast<intptr_t>(kind)), nullptr);
        flush_events();
        ASSERT_NE(saveas, nullptr);
        XmString item = XmStringCreateLocalized(const_cast<char *>(format));
        int pos = XmListItemPos(saveas->list, item);
        XmStringFree(item);
        ASSERT_GT(pos, 0) << format << " is not in the Save As list";
        XmListSelectPos(saveas->list, pos, True);
    }
    void choose(Widget menu, Widget item)
    {
        XtVaSetValues(menu, XmNmenuHistory, item, nullptr);
    }
    // Types name into a file selection box and presses its OK button.
    void press_ok(Widget box, const std::string &name)
    {
        Widget text = XmFileSelectionBoxGetChild(box, XmDIALOG_TEXT);
        XmTextFieldSetString(text, const_cast<char *>(name.c_str()));
        XmAnyCallbackStruct cb = {XmCR_ACTIVATE, nullptr};
        XtCallCallbacks(XmFileSelectionBoxGetChild(box, XmDIALOG_OK_BUTTON), XmNactivateCallback,
                        &cb);
        flush_events();
    }
    // Saves through the Save As dialog; returns the dialog's outcome.
    int save_as(const std::string &path, const char *format, Widget colours = nullptr,
                Widget compression = nullptr, int kind = SAVE_AS)
    {
        show_save_as(format, kind);
        if (colours != nullptr)
            choose(saveas->colors_menu, colours);
        if (compression != nullptr)
            choose(saveas->compression_menu, compression);
        saveas->outcome = -1;
        press_ok(saveas->dialog, path);
        return saveas->outcome;
    }
    // The canvas shows the band picture (from column x0 of it).
    void expect_bands_shown(int x0 = 0)
    {
        Window w = XtWindow(base->canvas);
        for (int band = x0 / 8; band < 8; band++) {
            unsigned char rgb[3];
            window_rgb(w, band * 8 + 4 - x0, 10, rgb);
            EXPECT_EQ(rgb[0], band_colours[band][0]) << "band " << band;
            EXPECT_EQ(rgb[1], band_colours[band][1]) << "band " << band;
            EXPECT_EQ(rgb[2], band_colours[band][2]) << "band " << band;
        }
    }

    std::string dir;
    std::string picture;
};

} // namespace

TEST_F(SaveFlow, SaveAsOffersTheWritableFormatsWithTheirChoices)
{
    show_save_as("Kestrel Raster");
    EXPECT_TRUE(saveas->showing);
    EXPECT_EQ(saveas_shell_title(), "Lumora - Save As");
    EXPECT_STREQ(saveas->help, "LumorSaveAsDialog");

    // The formats that can be written, in collating order.
    std::vector<std::string> want;
    for (int i = 0; i < ntypes; i++)
        if (all_types[i].save != nullptr)
            want.push_back(all_types[i].display_name);
    std::sort(want.begin(), want.end(),
              [](const std::string &a, const std::string &b) { return std::strcoll(a.c_str(), b.c_str()) < 0; });
    EXPECT_EQ(list_items(saveas->list), want);

    // Kestrel raster: every depth; None, Unix and Encoded.
    EXPECT_EQ(colours_state(), "111 256");
    EXPECT_EQ(compression_state(), "1110 None");
    choose(saveas->colors_menu, saveas->millions_item);
    EXPECT_EQ(label_of(saveas->colors_menu), "Millions");

    // GIF: 256 colours, no compression.
    show_save_as("GIF");
    EXPECT_EQ(colours_state(), "010 256");
    EXPECT_EQ(compression_state(), "1000 None");

    // The rows whose savers are not in every build, set directly.
    set_colors_value(FMT_TIFF);
    set_compression_value(FMT_TIFF);
    EXPECT_EQ(colours_state(), "111 256");
    EXPECT_EQ(compression_state(), "1101 LZW");
    set_colors_value(FMT_JFIF);
    set_compression_value(FMT_JFIF);
    EXPECT_EQ(colours_state(), "001 Millions");
    EXPECT_EQ(compression_state(), "1000 None");
    set_colors_value(FMT_XPM);
    set_compression_value(FMT_XPM);
    EXPECT_EQ(colours_state(), "010 256");
    EXPECT_EQ(compression_state(), "1100 None");
    set_colors_value(FMT_EPSF);
    set_compression_value(FMT_PS);
    EXPECT_EQ(colours_state(), "111 256");
    EXPECT_EQ(compression_state(), "1100 None");

    // The other kinds retitle the dialog; Cancel records the outcome.
    SaveAsCallback(nullptr, reinterpret_cast<XtPointer>(SAVE_PAGE), nullptr);
    EXPECT_EQ(saveas_shell_title(), "Lumora - Save Page As Image");
    EXPECT_STREQ(saveas->help, "LumorSavePageAsDialog");
    SaveAsCallback(nullptr, reinterpret_cast<XtPointer>(SAVE_SELECTION), nullptr);
    EXPECT_EQ(saveas_shell_title(), "Lumora - Save Selection As");
    SaveAsCancelCallback(nullptr, nullptr, nullptr);
    flush_events();
    EXPECT_EQ(saveas->outcome, 1);
    EXPECT_FALSE(saveas->showing);
}

TEST_F(SaveFlow, TheSavedFileBecomesTheCurrentDocument)
{
    ImageRec *before = current_image;
    std::string gif = dir + "/bands.gif";
    ASSERT_EQ(save_as(gif, "GIF"), 0);
    EXPECT_FALSE(saveas->showing);
    EXPECT_NE(current_image, before);
    EXPECT_STREQ(current_image->file, gif.c_str());
    EXPECT_EQ(current_image->type->type, FMT_GIF);
    EXPECT_EQ(current_image->depth, 8);
    EXPECT_EQ(current_image->file_size, static_cast<int>(read_file(gif).size()));
    EXPECT_EQ(title(), "Lumora - bands.gif");
    expect_bands_shown();
    EXPECT_TRUE(leftovers(dir).empty());

    // Read back from the file, the colours are exact.
    ASSERT_EQ(open(gif), 0);
    EXPECT_EQ(current_image->type->type, FMT_GIF);
    expect_bands_shown();

    // The file holds the view: zoomed to 200 % it is twice as large.
    current_state->zoom_step = 2.0f;
    current_state->zoom = 2.0f;
    image_zoom_func(nullptr);
    display_new_image();
    std::string big = dir + "/big.ras";
    ASSERT_EQ(save_as(big, "Kestrel Raster", saveas->millions_item), 0);
    EXPECT_EQ(current_image->depth, 24);
    ASSERT_EQ(open(big), 0);
    EXPECT_EQ(vela_get_width(current_image->orig_image), 128);
    EXPECT_EQ(vela_get_height(current_image->orig_image), 40);
}

TEST_F(SaveFlow, AColormappedPictureKeepsItsColours)
{
    std::vector<unsigned char> map = {10, 200, 30, 250, 250, 5, 90, 0, 160};
    std::vector<unsigned char> idx(30 * 20);
    for (size_t i = 0; i < idx.size(); i++)
        idx[i] = static_cast<unsigned char>((i % 30) / 10);
    ASSERT_EQ(open(write_raster_8(dir + "/pal8.ras", 30, 20, idx, map)), 0);
    std::string gif = dir + "/pal8.gif";
    ASSERT_EQ(save_as(gif, "GIF"), 0);
    ASSERT_EQ(open(gif), 0);
    for (int c = 0; c < 3; c++) {
        unsigned char rgb[3];
        window_rgb(XtWindow(base->canvas), c * 10 + 5, 10, rgb);
        EXPECT_EQ(rgb[0], map[3 * c]) << c;
        EXPECT_EQ(rgb[1], map[3 * c + 1]) << c;
        EXPECT_EQ(rgb[2], map[3 * c + 2]) << c;
    }
}

TEST_F(SaveFlow, PlainSaveAsksBeforeOverwriting)
{
    SaveCallback(nullptr, nullptr, nullptr);
    flush_events();
    ASSERT_NE(save_dialog, nullptr);
    Widget text = XmFileSelectionBoxGetChild(save_dialog, XmDIALOG_TEXT);
    char *shown = XmTextFieldGetString(text);
    EXPECT_STREQ(shown, "pic.ras");
    XtFree(shown);

    std::string original = read_file(picture);
    ImageRec *before = current_image;
    {
        AlertScript answers({"Cancel"});
        press_ok(save_dialog, picture);
        ASSERT_EQ(answers.seen.size(), 1u);
        EXPECT_EQ(answers.message(0), "The file \"pic.ras\" already exists.\n"
                                      "Do you want to overwrite the existing file \"pic.ras\"?");
        EXPECT_EQ(answers.seen[0].title, "Lumora - Save");
    }
    EXPECT_TRUE(save_showing) << "the dialog stays up";
    EXPECT_EQ(read_file(picture), original);
    EXPECT_EQ(current_image, before);

    {
        AlertScript answers({"Overwrite Existing File"});
        press_ok(save_dialog, picture);
        EXPECT_EQ(answers.seen.size(), 1u);
        EXPECT_EQ(answers.unexpected, 0);
    }
    EXPECT_FALSE(save_showing);
    EXPECT_NE(current_image, before);
    EXPECT_EQ(current_image->type->type, FMT_RASTER);
    EXPECT_EQ(current_image->depth, 24);
    EXPECT_EQ(title(), "Lumora - pic.ras");
    expect_bands_shown();
    ASSERT_EQ(open(picture), 0);
    expect_bands_shown();
}

TEST_F(SaveFlow, NoToTheJfifQuestionChangesNothing)
{
    // The question comes before any writing, whatever the JFIF saver does.
    static int calls = 0;
    FormatEntry &jfif = all_types[FMT_JFIF];
    int (*real)(ImageRec *) = jfif.save;
    if (real == nullptr) {
        jfif.save = [](ImageRec *) { calls++; return -1; };
        if (saveas != nullptr)
            set_format_list(saveas->list, true);
    }
    ImageRec *before = current_image;
    std::string target = dir + "/lossy.jpg";
    int outcome;
    {
        AlertScript answers({"No"});
        outcome = save_as(target, "JFIF (JPEG)");
        ASSERT_EQ(answers.seen.size(), 1u);
        EXPECT_EQ(answers.message(0), "Saving to the JFIF (JPEG) file format\n"
                                      "may result in a loss of data.\nDo you want to continue?");
    }
    EXPECT_EQ(outcome, 1);
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(exists(target));
    EXPECT_EQ(current_image, before);
    EXPECT_EQ(title(), "Lumora - pic.ras");
    {
        AlertScript answers({"Yes"});
        EXPECT_EQ(confirm_data_loss(), 1);
    }
    jfif.save = real;
    set_format_list(saveas->list, true);
}

TEST_F(SaveFlow, UnixCompressionWritesTheDotZFile)
{
    // The name without ".Z" is written first: it is asked about.
    std::string plain = dir + "/c.ras", packed = plain + ".Z";
    write_file(plain, "an older file");
    {
        AlertScript answers({"Overwrite Exising File"});
        ASSERT_EQ(save_as(packed, "Kestrel Raster", saveas->millions_item, saveas->unix_item), 0);
        ASSERT_EQ(answers.seen.size(), 1u);
        EXPECT_EQ(answers.message(0),
                  "The file \"c.ras\" already exists.\nSaving a file using UNIX compression will "
                  "overwrite this file.\nDo you want to overwrite the existing file \"c.ras\"?");
    }
    EXPECT_TRUE(exists(packed));
    EXPECT_FALSE(exists(plain));
    EXPECT_TRUE(leftovers(dir).empty());
    EXPECT_STREQ(current_image->file, packed.c_str());
    EXPECT_EQ(current_image->compression, COMP_UNIX);
    EXPECT_EQ(title(), "Lumora - c.ras.Z");
    expect_bands_shown();
    // compress(1) wrote it: zcat and our loader read it back.
    ASSERT_EQ(std::system(("zcat '" + packed + "' >/dev/null").c_str()), 0);
    ASSERT_EQ(open(packed), 0);
    EXPECT_EQ(current_image->type->type, FMT_RASTER);
    expect_bands_shown();

    // Without ".Z" the compressed result is asked about; Cancel keeps it.
    std::string d = dir + "/d.ras", dz = d + ".Z";
    write_file(dz, "keep me");
    {
        AlertScript answers({"Cancel"});
        EXPECT_EQ(save_as(d, "Kestrel Raster", nullptr, saveas->unix_item), 1);
        ASSERT_EQ(answers.seen.size(), 1u);
        EXPECT_EQ(answers.message(0),
                  "The file \"d.ras.Z\" already exists.\nSaving a file using UNIX compression "
                  "will overwrite this file.\nDo you want to overwrite the existing file "
                  "\"d.ras.Z\"?");
    }
    EXPECT_EQ(read_file(dz), "keep me");
    EXPECT_FALSE(exists(d));
    {
        AlertScript answers({"Overwrite Existing File"});
        EXPECT_EQ(save_as(d, "Kestrel Raster", nullptr, saveas->unix_item), 0);
        EXPECT_EQ(answers.unexpected, 0);
    }
    EXPECT_NE(read_file(dz), "keep me");
    EXPECT_FALSE(exists(d));
    EXPECT_STREQ(current_image->file, dz.c_str());
    EXPECT_TRUE(leftovers(dir).empty());
}

TEST_F(SaveFlow, AnIncompressiblePictureStaysUncompressed)
{
    ASSERT_EQ(open(write_raster_24(dir + "/noise-src.ras", 64, 64, noise_rgb(64, 64))), 0);
    std::string entered = dir + "/noise.ras.Z", written = dir + "/noise.ras";
    {
        AlertScript answers({"Continue"});
        ASSERT_EQ(save_as(entered, "Kestrel Raster", saveas->millions_item, saveas->unix_item), 0);
        ASSERT_EQ(answers.seen.size(), 1u);
        EXPECT_EQ(answers.message(0),
                  entered + " not compressed.\nFile would be larger if compressed.");
    }
    EXPECT_TRUE(exists(written));
    EXPECT_FALSE(exists(entered));
    EXPECT_TRUE(leftovers(dir).empty());
    EXPECT_STREQ(current_image->file, written.c_str());
    EXPECT_EQ(current_image->compression, COMP_NONE);
    EXPECT_EQ(title(), "Lumora - noise.ras");
    EXPECT_EQ(current_image->file_size, static_cast<int>(read_file(written).size()));
}

TEST_F(SaveFlow, SaveSelectionAs)
{
    // Without a selection there is nothing to save, and nothing is said.
    current_state->selection_shown = 0;
    std::string target = dir + "/part.ras";
    ImageRec *before = current_image;
    {
        AlertScript answers({});
        EXPECT_LT(save_newfile(target.c_str(), SAVE_SELECTION), 0);
        flush_events();
        EXPECT_TRUE(answers.seen.empty());
    }
    EXPECT_FALSE(exists(target));
    EXPECT_EQ(current_image, before);

    // A selection over bands 1 and 2 saves just those.
    current_state->selection_shown = 1;
    current_state->sel_x = 8;
    current_state->sel_y = 0;
    current_state->sel_width = 16;
    current_state->sel_height = 10;
    set_save_selection(1);
    ASSERT_EQ(save_as(target, "Kestrel Raster", saveas->millions_item, nullptr, SAVE_SELECTION), 0);
    EXPECT_FALSE(saveas->showing);
    ASSERT_EQ(open(target), 0);
    EXPECT_EQ(vela_get_width(current_image->orig_image), 16);
    EXPECT_EQ(vela_get_height(current_image->orig_image), 10);
    unsigned char rgb[3];
    window_rgb(XtWindow(base->canvas), 4, 4, rgb);
    EXPECT_EQ(rgb[1], 255) << "band 1 is green";
    window_rgb(XtWindow(base->canvas), 12, 4, rgb);
    EXPECT_EQ(rgb[2], 255) << "band 2 is blue";
    EXPECT_EQ(rgb[0], 0);
}

TEST_F(SaveFlow, RefusalsBeforeAnythingIsWritten)
{
    ImageRec *before = current_image;
    // As root every permission bit is ignored, so the folder must be one
    // where nobody can create files: /proc.
    std::string locked = dir + "/locked";
    std::string target = locked + "/pic.ras";
    if (geteuid() == 0) {
        target = "/proc/orvimage-save-test.ras";
    } else {
        mkdir(locked.c_str(), 0555);
    }
    struct {
        std::string path, message;
        int rc;
    } cases[] = {
        {target, "Cannot save to " + target + ".", -1},
        {dir, dir + " is a folder.\nPlease enter a file name.", -2},
        {dir + "/  ", "Please enter a file name.", -2},
        {"", "Please enter a file name.", -2},
    };
    for (const auto &c : cases) {
        AlertScript answers({"Continue"});
        EXPECT_EQ(save_newfile(c.path.c_str(), SAVE_AS), c.rc) << c.path;
        ASSERT_EQ(answers.seen.size(), 1u) << c.path;
        EXPECT_EQ(answers.message(0), c.message);
        EXPECT_EQ(answers.seen[0].title, "Lumora - Save");
    }
    EXPECT_FALSE(exists(target));
    EXPECT_EQ(current_image, before);
}

TEST_F(SaveFlow, AFailedSaveLeavesTheOldFileAndThePicture)
{
    ImageRec *before = current_image;
    savefile_fail_commit = true;
    // One conversion to fewer and one to more colours than a screen shows.
    struct {
        const char *format;
        const char *name;
        bool millions;
    } tries[] = {{"GIF", "precious.gif", false}, {"Kestrel Raster", "precious.ras", true}};
    for (const auto &t : tries) {
        std::string path = dir + "/" + t.name;
        write_file(path, "precious bytes");
        {
            AlertScript answers({"Overwrite Existing File", "Continue"});
            show_save_as(t.format); // the dialog's items exist from here on
            EXPECT_EQ(save_as(path, t.format, t.millions ? saveas->millions_item : nullptr), 1)
                << t.format;
            ASSERT_EQ(answers.seen.size(), 2u) << t.format;
            EXPECT_EQ(answers.message(1), "Cannot save file.");
            EXPECT_EQ(answers.seen[1].title, "Lumora - Save");
        }
        EXPECT_TRUE(saveas->showing) << "the dialog stays up after a failure";
        EXPECT_EQ(read_file(path), "precious bytes") << t.format;
        EXPECT_TRUE(leftovers(dir).empty()) << t.format;
        EXPECT_EQ(current_image, before);
        EXPECT_EQ(title(), "Lumora - pic.ras");
        // The picture is still shown as it was, also once it is redrawn.
        expect_bands_shown();
        display_new_image();
        flush_events();
        expect_bands_shown();
    }
}

TEST_F(SaveFlow, AShowingSaveAsDialogFollowsTheDocument)
{
    show_save_as("Kestrel Raster");
    set_save_selection(1);
    EXPECT_EQ(saveas_shell_title(), "Lumora - Save Selection As");
    EXPECT_STREQ(saveas->help, "LumorSaveSelectionAsDialog");
    set_save_selection(0);
    EXPECT_EQ(saveas_shell_title(), "Lumora - Save As");

    // A new document after a raster page title, and the Save dialog's name.
    SaveCallback(nullptr, nullptr, nullptr);
    SaveCancelCallback(nullptr, nullptr, nullptr);
    SaveAsCallback(nullptr, reinterpret_cast<XtPointer>(SAVE_PAGE), nullptr);
    flush_events();
    std::string other = write_raster_24(dir + "/other.ras", 16, 16, bands_rgb(16, 16));
    ASSERT_EQ(open(other), 0);
    EXPECT_EQ(saveas_shell_title(), "Lumora - Save As");
    Widget text = XmFileSelectionBoxGetChild(save_dialog, XmDIALOG_TEXT);
    char *shown = XmTextFieldGetString(text);
    EXPECT_STREQ(shown, "other.ras");
    XtFree(shown);

    // A Save Selection As dialog goes away with the selection's document.
    SaveAsCallback(nullptr, reinterpret_cast<XtPointer>(SAVE_SELECTION), nullptr);
    flush_events();
    ASSERT_TRUE(saveas->showing);
    ASSERT_EQ(open(picture), 0);
    EXPECT_FALSE(saveas->showing);
}

TEST_F(SaveFlow, EveryDepthFromEveryKindOfPicture)
{
    std::vector<unsigned char> map = {10, 200, 30, 250, 250, 5, 90, 0, 160};
    std::vector<unsigned char> idx(24 * 20), bits(24 * 20);
    for (size_t i = 0; i < idx.size(); i++) {
        idx[i] = static_cast<unsigned char>((i % 24) / 8);
        bits[i] = (i % 24) >= 12 ? 1 : 0;
    }
    // Each source with the colours at x = 4, 12, 20 it must keep.
    struct Source {
        std::string path;
        std::vector<std::vector<int>> colours;
    } sources[] = {
        {picture, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}}},
        {write_raster_8(dir + "/pal.ras", 24, 20, idx, map),
         {{10, 200, 30}, {250, 250, 5}, {90, 0, 160}}},
        {write_raster_1(dir + "/bits.ras", 24, 20, bits), {{255, 255, 255}, {0, 0, 0}, {0, 0, 0}}},
    };
    struct Target {
        const char *format;
        int item;               // 0 B&W, 1 256, 2 Millions
        int depth;
    } targets[] = {{"Kestrel Raster", 0, 1}, {"Kestrel Raster", 1, 8}, {"Kestrel Raster", 2, 24},
                   {"GIF", 1, 8}};
    int n = 0;
    for (const Source &src : sources) {
        for (const Target &t : targets) {
            SCOPED_TRACE(src.path + " as " + t.format + " " + std::to_string(t.depth));
            ASSERT_EQ(open(src.path), 0);
            std::string out = dir + "/out" + std::to_string(++n) + (t.format[0] == 'G' ? ".gif" : ".ras");
            show_save_as(t.format); // the dialog's items exist from here on
            Widget items[] = {saveas->bw_item, saveas->colors256_item, saveas->millions_item};
            ASSERT_EQ(save_as(out, t.format, items[t.item]), 0);
            ASSERT_EQ(open(out), 0);
            EXPECT_EQ(current_image->depth, t.depth);
            Window canvas = XtWindow(base->canvas);
            if (t.depth == 1 && src.path == picture) {
                // Dithered to black and white: the black and white bands stay.
                unsigned char black[3], white[3];
                window_rgb(canvas, 6 * 8 + 4, 10, black);
                window_rgb(canvas, 7 * 8 + 4, 10, white);
                EXPECT_EQ(black[0] + black[1] + black[2], 0);
                EXPECT_EQ(white[0] + white[1] + white[2], 3 * 255);
                continue;
            }
            if (t.depth == 1 && src.path != sources[2].path)
                continue; // the colours become dithered greys
            for (int i = 0; i < 3; i++) {
                unsigned char rgb[3];
                window_rgb(canvas, 8 * i + 4, 10, rgb);
                EXPECT_EQ(rgb[0], src.colours[i][0]) << "x " << 8 * i + 4;
                EXPECT_EQ(rgb[1], src.colours[i][1]) << "x " << 8 * i + 4;
                EXPECT_EQ(rgb[2], src.colours[i][2]) << "x " << 8 * i + 4;
            }
        }
    }
}
