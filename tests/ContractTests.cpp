// The host contract as a host compiles it: start values, base defaults and the display-name tables.
#include "contract/ICameraObject.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

// The least a camera class must supply; everything else keeps the base's default.
class MinimalCamera final : public ICameraObject {
public:
    using ICameraObject::ICameraObject;
    int32_t IOpenCamera() override { return 0; }
    void ICloseCamera() override {}
    int32_t IStartCamera() override { return 0; }
    void IStopCamera() override {}
};

class NullCallback final : public ICameraCallback {
public:
    void OnImageReady(ICameraObject* /*camera*/) override {}
};

TEST(CameraObject, StartValues) {
    CameraConfig config;
    config.imageFormat = ImageFormatGray8;
    NullCallback callback;
    MinimalCamera camera(&config, &callback);
    EXPECT_EQ(camera.m_pConfig, &config);
    EXPECT_EQ(camera.m_pCallback, &callback);
    EXPECT_FALSE(camera.m_bOpened);
    EXPECT_FALSE(camera.m_bRunning);
    EXPECT_EQ(camera.m_nWidth, 0);
    EXPECT_EQ(camera.m_nHeight, 0);
    EXPECT_EQ(camera.m_nReserved1, 0);
    EXPECT_EQ(camera.m_nImageFormat, 0);
    EXPECT_EQ(camera.m_nReserved2, 0);
    EXPECT_EQ(camera.m_nFrameId, 0);
    EXPECT_EQ(camera.m_nStartCount, 0);
    EXPECT_EQ(camera.m_nAppliedTriggerMode, 0);
    EXPECT_EQ(camera.m_nTriggerMode, 1);
    EXPECT_EQ(camera.m_pImageData, nullptr);
}

TEST(CameraObject, BitsPerPixelFollowTheConfiguredImageFormat) {
    const std::vector<std::pair<int32_t, int32_t>> cases = {
        {1, 8}, {2, 24}, {3, 32}, {4, 16}, {0, 0}, {5, 0}, {11, 0}, {12, 0}, {6, 0}, {10, 0}, {-1, 0}, {1000, 0},
    };
    NullCallback callback;
    for (const auto& [imageFormat, bits] : cases) {
        CameraConfig config;
        config.imageFormat = imageFormat;
        MinimalCamera camera(&config, &callback);
        EXPECT_EQ(camera.m_nBitsPerPixel, bits) << "imageFormat " << imageFormat;
    }
}

TEST(CameraObject, BaseDefaults) {
    CameraConfig config;
    NullCallback callback;
    MinimalCamera camera(&config, &callback);
    ICameraObject& object = camera;
    EXPECT_TRUE(object.IEnumAvailableCameras().isEmpty());
    EXPECT_FALSE(object.IQueryFlagA());
    EXPECT_FALSE(object.IQueryFlagB());
    EXPECT_FALSE(object.IQueryFlagC());
    EXPECT_EQ(object.IQueryValue(), 0);
    CameraProperty property{1, 100};
    EXPECT_FALSE(object.ISetProperty(&property));
    EXPECT_FALSE(object.ISetProperty(nullptr));
    object.InitProperty();
    object.ISetSoftTriggerMode();
    EXPECT_EQ(camera.m_nBitsPerPixel, 0);
}

TEST(CameraObject, ConfigurationDefaultsAreZero) {
    const CameraConfig config;
    EXPECT_TRUE(config.cameraId.isEmpty());
    EXPECT_EQ(config.imageFormat, 0);
    EXPECT_EQ(config.exposureTime, 0);
}

TEST(NameTables, CameraTypesHoldFourteenEntriesInKeyOrder) {
    const std::vector<std::pair<int, const char*>> expected = {
        {0, "Unknown(0)"},     {100, "Virtual Camera(100)"}, {110, "BitFlow(110)"},
        {120, "Gige(120)"},    {130, "USB Camera(130)"},     {140, "HIK(140)"},
        {150, "Vimba(150)"},   {160, "Veyra(160)"},          {170, "AdLink(170)"},
        {180, "DaHua(180)"},   {190, "Basler(190)"},         {200, "PtGray(200)"},
        {220, "Euresys(220)"}, {230, "Dalsa(230)"},
    };
    ASSERT_EQ(g_cameraTypeNames.size(), 14);
    auto entry = g_cameraTypeNames.constBegin();
    for (const auto& [key, name] : expected) {
        EXPECT_EQ(entry.key(), key);
        EXPECT_EQ(entry.value(), QString::fromLatin1(name));
        ++entry;
    }
    EXPECT_EQ(g_cameraTypeNames.value(CameraTypeVeyra), QStringLiteral("Veyra(160)"));
}

TEST(NameTables, StatesAndImageFormats) {
    EXPECT_EQ(g_cameraStateNames.keys(), (QList<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(g_cameraStateNames.values(),
              (QStringList{QStringLiteral("Uninitialized"), QStringLiteral("Initialized"), QStringLiteral("Opened"),
                           QStringLiteral("Running"), QStringLiteral("Paused"), QStringLiteral("Closed")}));
    EXPECT_EQ(g_imageFormatNames.keys(), (QList<int>{0, 1, 2, 3, 4, 5, 11, 12}));
    EXPECT_EQ(g_imageFormatNames.values(),
              (QStringList{QStringLiteral("None"), QStringLiteral("GRAY8"), QStringLiteral("RGB24"),
                           QStringLiteral("RGB32"), QStringLiteral("GRAY16"), QStringLiteral("RGB48"),
                           QStringLiteral("BGR24"), QStringLiteral("BGR32")}));
}

TEST(NameTables, ValuesWithoutEntryHaveNoName) {
    EXPECT_FALSE(g_cameraTypeNames.contains(210));
    for (int format = 6; format <= 10; ++format) {
        EXPECT_FALSE(g_imageFormatNames.contains(format)) << format;
    }
    EXPECT_FALSE(g_cameraStateNames.contains(6));
    EXPECT_FALSE(g_cameraStateNames.contains(-1));
}

} // namespace
