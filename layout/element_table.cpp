#include "layout/element_table.h"

#include <array>

namespace layout {
namespace {

using enum Kind;
constexpr auto Blue = TextColour::DarkBlue;
constexpr auto Std = TextColour::Standard;

constexpr std::string_view kDisconnectedBitmap = ":/layout/disconnected.bmp";
constexpr std::string_view kConnectedBitmap = ":/layout/connected.bmp";

// clang-format off
constexpr std::array kElements{
    Element{"Frame2", Frame, "", "Device Connection Status", 120, 120, 2895, 1335, 7},
    Element{"DisconnectedPicture", Picture, "Frame2", "", 840, 240, 1215, 615, 10, Std, Align::Left, BarFill::None, kDisconnectedBitmap},
    Element{"ConnectedPicture", Picture, "Frame2", "", 840, 240, 1215, 615, 9, Std, Align::Left, BarFill::None, kConnectedBitmap},
    Element{"IPAddrLabel", ValueField, "Frame2", "", 600, 960, 1695, 255, 8, Blue, Align::Centre},

    Element{"Frame1", Frame, "", "Device Memory", 120, 1560, 2895, 1935, 1},
    Element{"MemoryUsageBar", ProgressBar, "Frame1", "", 120, 1440, 2655, 255, 2, Std, Align::Left, BarFill::Segmented},
    Element{"Label8", Caption, "Frame1", "Usage (%)", 120, 1200, 1455, 255, 19},
    Element{"AvailableLabel", ValueField, "Frame1", "", 960, 720, 1695, 255, 6, Blue},
    Element{"MemoryLabel", ValueField, "Frame1", "", 960, 360, 1695, 255, 5, Blue},
    Element{"Label2", Caption, "Frame1", "Available:", 120, 720, 855, 255, 4},
    Element{"Label1", Caption, "Frame1", "Physical:", 120, 360, 855, 255, 3},

    Element{"Frame6", Frame, "", "Storage", 120, 3600, 2895, 1815, 31},
    Element{"StorageUsageBar", ProgressBar, "Frame6", "", 120, 1320, 2655, 255, 35, Std, Align::Left, BarFill::Smooth},
    Element{"StorageFreeLabel", ValueField, "Frame6", "", 1080, 720, 1575, 255, 37, Std},
    Element{"StorageLabel", ValueField, "Frame6", "", 1080, 360, 1575, 255, 36, Std},
    Element{"Label14", Caption, "Frame6", "Usage (%)", 120, 1080, 2535, 255, 34},
    Element{"Label13", Caption, "Frame6", "Free Space:", 120, 720, 1095, 255, 33},
    Element{"Label4", Caption, "Frame6", "Total Space:", 120, 360, 1095, 255, 32},

    Element{"Frame4", Frame, "", "Device Power", 3120, 120, 2895, 2655, 14},
    Element{"BatteryLifeBar", ProgressBar, "Frame4", "", 120, 1800, 2415, 255, 18, Std, Align::Left, BarFill::Segmented},
    Element{"ACLineStatusLabel", ValueField, "Frame4", "", 840, 2280, 1815, 255, 25, Blue},
    Element{"Label10", Caption, "Frame4", "AC Line:", 120, 2280, 615, 255, 24},
    Element{"BatteryFullTimeLabel", ValueField, "Frame4", "", 1080, 1200, 1335, 255, 23, Blue},
    Element{"BatteryLifeLabel", ValueField, "Frame4", "", 1080, 960, 1575, 255, 22, Blue},
    Element{"BatteryStatusLabel", ValueField, "Frame4", "", 1320, 480, 1335, 255, 21, Blue},
    Element{"Label9", Caption, "Frame4", "Battery Life (%)", 120, 1560, 1455, 255, 20},
    Element{"Label7", Caption, "Frame4", "Full Time:", 120, 1200, 855, 255, 17},
    Element{"Label6", Caption, "Frame4", "Battery Life:", 120, 960, 855, 255, 16},
    Element{"Label5", Caption, "Frame4", "Battery Status:", 120, 480, 1095, 255, 15},

    Element{"Frame5", Frame, "", "Screen Info", 3120, 2880, 2895, 1095, 26},
    Element{"ScreenWidthLabel", ValueField, "Frame5", "", 720, 600, 1815, 255, 30, Blue},
    Element{"ScreenHeightLabel", ValueField, "Frame5", "", 720, 360, 1695, 255, 29, Blue},
    Element{"Label12", Caption, "Frame5", "Width:", 120, 600, 495, 255, 28},
    Element{"Label11", Caption, "Frame5", "Height:", 120, 360, 615, 255, 27},

    Element{"Frame3", Frame, "", "Device Processor", 3120, 4080, 2895, 855, 11},
    Element{"ProcessorLabel", ValueField, "Frame3", "", 720, 360, 1815, 255, 13, Blue},
    Element{"Label3", Caption, "Frame3", "Type:", 120, 360, 495, 255, 12},

    Element{"RefreshCommand", PushButton, "", "Refresh", 3120, 5040, 2895, 375, 0},
};
// clang-format on

constexpr std::array kCaptionPairs{
    CaptionPair{"Label1", "MemoryLabel"},          CaptionPair{"Label2", "AvailableLabel"},
    CaptionPair{"Label8", "MemoryUsageBar"},       CaptionPair{"Label4", "StorageLabel"},
    CaptionPair{"Label13", "StorageFreeLabel"},    CaptionPair{"Label14", "StorageUsageBar"},
    CaptionPair{"Label5", "BatteryStatusLabel"},   CaptionPair{"Label6", "BatteryLifeLabel"},
    CaptionPair{"Label7", "BatteryFullTimeLabel"}, CaptionPair{"Label9", "BatteryLifeBar"},
    CaptionPair{"Label10", "ACLineStatusLabel"},   CaptionPair{"Label11", "ScreenHeightLabel"},
    CaptionPair{"Label12", "ScreenWidthLabel"},    CaptionPair{"Label3", "ProcessorLabel"},
};

constexpr std::array kAccessibleTexts{
    AccessibleText{"ConnectedPicture", "Connected"},
    AccessibleText{"DisconnectedPicture", "Not connected"},
    AccessibleText{"IPAddrLabel", "", "Network address"},
};

} // namespace

std::span<const CaptionPair> captionPairs() {
    return kCaptionPairs;
}

std::span<const AccessibleText> accessibleTexts() {
    return kAccessibleTexts;
}

std::span<const Element> elements() {
    return kElements;
}

const Element* findElement(std::string_view name) {
    for (const Element& e : kElements) {
        if (e.name == name)
            return &e;
    }
    return nullptr;
}

} // namespace layout
