// What the window Form1 decides, free of any window: its controls and their
// layout, and what its two buttons do to the two text boxes.
#pragma once
#include <string>

#include "digest/md5.h"

enum form_control_kind { FORM_LABEL, FORM_TEXT_BOX, FORM_BUTTON };

// One control, positions in twips within the client area.
struct form_control {
    int id;
    form_control_kind kind;
    const char16_t* caption;
    int left, top, width, height;
};

// The six controls in tab order; the window creates them in this order.
constexpr int FORM1_CONTROL_COUNT = 6;
extern const form_control form1_controls[FORM1_CONTROL_COUNT];
extern const char16_t form1_caption[];
constexpr int FORM1_CLIENT_WIDTH_TWIPS = 4680;
constexpr int FORM1_CLIENT_HEIGHT_TWIPS = 2385;

// Twips to pixels at dpi dots per inch, rounded to the nearest pixel.
int twips_to_pixels(int twips, int dpi);

// The text boxes as the click handlers see them; the window or a test fills it in.
struct form_boxes {
    void* context;
    std::u16string (*get_text)(void* context, int control_id);
    void (*set_text)(void* context, int control_id, const std::u16string& text);
    ansi_code_fn ansi_code;
};

// Compute: the digest of Text1 into Text2, unless Text1 is empty.
void command1_click(const form_boxes& form);
// Clear: Text1, then Text2.
void command2_click(const form_boxes& form);
