// The window described as data: every frame, caption, value field, bar, picture and the button,
// with its place in twips. The window is built from this table and from nothing else.
#pragma once

#include <QColor>

#include <span>
#include <string_view>

namespace layout {

enum class Kind { Frame, Caption, ValueField, ProgressBar, Picture, PushButton };
enum class TextColour { Standard, DarkBlue };
enum class Align { Left, Centre };
enum class BarFill { None, Segmented, Smooth };

struct Element {
    std::string_view name;
    Kind kind;
    std::string_view container;   // empty: directly on the window
    std::string_view caption;     // fixed caption; empty for value fields, bars and pictures
    int left, top, width, height; // twips, from the container's top-left outer corner
    int tab;
    TextColour colour = TextColour::Standard;
    Align align = Align::Left;
    BarFill fill = BarFill::None;
    std::string_view bitmap = {}; // resource path of a picture's bitmap
};

// The value-field text colour for TextColour::DarkBlue.
inline const QColor kDarkBlue{0, 0, 192};

// Client area of the window, in twips.
inline constexpr int kClientWidthTwips = 6165;
inline constexpr int kClientHeightTwips = 5475;

inline constexpr std::string_view kWindowCaption = "Device Info";
inline constexpr std::string_view kIconResource = ":/layout/device_info.ico";
// The same icon drawn at each size as PNG, which Qt reads without loading an image plugin.
inline constexpr std::string_view kIconRenditions[] = {":/layout/device-info-16.png",
                                                       ":/layout/device-info-32.png"};

// A value field or bar and the caption that names it, for assistive technology; panel by panel
// in the order the window reads.
struct CaptionPair {
    std::string_view caption;
    std::string_view labelled;
};

// What assistive technology is told of an element that no caption names. A value field keeps
// its text as its name, so it gets a description.
struct AccessibleText {
    std::string_view element;
    std::string_view name;
    std::string_view description = {};
};

std::span<const CaptionPair> captionPairs();
std::span<const AccessibleText> accessibleTexts();

// Frames and elements in stacking order: within one container, an earlier element lies above a
// later one.
std::span<const Element> elements();

// The element of the given name, or nullptr.
const Element* findElement(std::string_view name);

} // namespace layout
