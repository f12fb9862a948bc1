#include "digest/digest_form.h"

#include "resources/sumwick_ids.h"

const char16_t form1_caption[] = u"Form1";

const form_control form1_controls[FORM1_CONTROL_COUNT] = {
    {IDB_FORM1_COMMAND1, FORM_BUTTON, u"加 密", 1200, 1920, 855, 375},
    {IDE_FORM1_TEXT1, FORM_TEXT_BOX, u"", 360, 360, 3975, 375},
    {IDT_FORM1_LABEL1, FORM_LABEL, u"要加密的字符串：", 360, 120, 1455, 255},
    {IDE_FORM1_TEXT2, FORM_TEXT_BOX, u"", 360, 1320, 3975, 375},
    {IDT_FORM1_LABEL2, FORM_LABEL, u"md5加密结果：", 360, 1080, 1455, 255},
    {IDB_FORM1_COMMAND2, FORM_BUTTON, u"清 空", 2640, 1920, 855, 375},
};

int twips_to_pixels(int twips, int dpi) { return (twips * dpi + 720) / 1440; }

void command1_click(const form_boxes& form) {
    if (form.get_text(form.context, IDE_FORM1_TEXT1).empty()) return;
    // Read again rather than reuse: the box is the one source of the text.
    std::string digest = md5(form.get_text(form.context, IDE_FORM1_TEXT1), form.ansi_code);
    form.set_text(form.context, IDE_FORM1_TEXT2, std::u16string(digest.begin(), digest.end()));
}

void command2_click(const form_boxes& form) {
    form.set_text(form.context, IDE_FORM1_TEXT1, u"");
    form.set_text(form.context, IDE_FORM1_TEXT2, u"");
}
