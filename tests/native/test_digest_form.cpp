#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "digest/digest_form.h"
#include "resources/sumwick_ids.h"
#include "tests/native/digest_support.h"

// The two text boxes, with a record of every text set, in order.
struct FakeBoxes {
    std::map<int, std::u16string> text;
    std::vector<int> sets;

    static std::u16string get(void* context, int id) { return static_cast<FakeBoxes*>(context)->text[id]; }
    static void set(void* context, int id, const std::u16string& value) {
        auto* boxes = static_cast<FakeBoxes*>(context);
        boxes->text[id] = value;
        boxes->sets.push_back(id);
    }
    form_boxes form() { return {this, get, set, gbk_code}; }
};

static std::u16string wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

TEST(DigestForm, ComputeShowsTheDigestOfTheInput) {
    FakeBoxes boxes;
    boxes.text[IDE_FORM1_TEXT1] = u"加密";
    command1_click(boxes.form());
    std::u16string expected = wide(openssl_md5("\xBC\xD3\xC3\xDC"));
    EXPECT_EQ(boxes.text[IDE_FORM1_TEXT2], expected);
    EXPECT_EQ(boxes.text[IDE_FORM1_TEXT1], u"加密");

    // Again on the same text: the same digits.
    command1_click(boxes.form());
    EXPECT_EQ(boxes.text[IDE_FORM1_TEXT2], expected);

    boxes.text[IDE_FORM1_TEXT1] = u"   ";
    command1_click(boxes.form());
    EXPECT_EQ(boxes.text[IDE_FORM1_TEXT2], wide(openssl_md5("   ")));
}

TEST(DigestForm, EmptyInputKeepsTheOldDigest) {
    FakeBoxes boxes;
    boxes.text[IDE_FORM1_TEXT1] = u"abc";
    command1_click(boxes.form());
    const std::u16string digest = boxes.text[IDE_FORM1_TEXT2];

    // Editing the input does not touch the digest until the next compute.
    boxes.text[IDE_FORM1_TEXT1] = u"abcd";
    EXPECT_EQ(boxes.text[IDE_FORM1_TEXT2], digest);

    boxes.text[IDE_FORM1_TEXT1] = u"";
    boxes.sets.clear();
    command1_click(boxes.form());
    EXPECT_TRUE(boxes.sets.empty());
    EXPECT_EQ(boxes.text[IDE_FORM1_TEXT2], digest);
}

TEST(DigestForm, ClearEmptiesInputThenOutput) {
    FakeBoxes boxes;
    boxes.text[IDE_FORM1_TEXT1] = u"abc";
    boxes.text[IDE_FORM1_TEXT2] = u"900150983cd24fb0d6963f7d28e17f72";
    command2_click(boxes.form());
    EXPECT_EQ(boxes.text[IDE_FORM1_TEXT1], u"");
    EXPECT_EQ(boxes.text[IDE_FORM1_TEXT2], u"");
    EXPECT_EQ(boxes.sets, (std::vector<int>{IDE_FORM1_TEXT1, IDE_FORM1_TEXT2}));

    command2_click(boxes.form());
    EXPECT_EQ(boxes.text[IDE_FORM1_TEXT1], u"");
    EXPECT_EQ(boxes.text[IDE_FORM1_TEXT2], u"");
}

TEST(DigestForm, LayoutInPixels) {
    EXPECT_EQ(twips_to_pixels(FORM1_CLIENT_WIDTH_TWIPS, 96), 312);
    EXPECT_EQ(twips_to_pixels(FORM1_CLIENT_HEIGHT_TWIPS, 96), 159);
    EXPECT_EQ(twips_to_pixels(FORM1_CLIENT_WIDTH_TWIPS, 120), 390);
    EXPECT_EQ(twips_to_pixels(FORM1_CLIENT_HEIGHT_TWIPS, 120), 199);

    // Every control lies inside the client area at 96 dpi.
    for (const form_control& c : form1_controls) {
        EXPECT_LE(twips_to_pixels(c.left, 96) + twips_to_pixels(c.width, 96), 312) << c.id;
        EXPECT_LE(twips_to_pixels(c.top, 96) + twips_to_pixels(c.height, 96), 159) << c.id;
    }
    // Focus moves Command1, Text1, Text2, Command2; labels take none.
    std::vector<int> focusable;
    for (const form_control& c : form1_controls)
        if (c.kind != FORM_LABEL) focusable.push_back(c.id);
    EXPECT_EQ(focusable, (std::vector<int>{IDB_FORM1_COMMAND1, IDE_FORM1_TEXT1, IDE_FORM1_TEXT2,
                                           IDB_FORM1_COMMAND2}));
}
