// What identifies the program on disk: the Windows manifest and icon, checked from the files the
// build uses (the compiled resources are read back under Wine by resources_win32_test.cpp).

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QXmlStreamReader>

#include <cstdint>
#include <cstring>

namespace {

const std::string kSource = VELLORK_SOURCE_DIR;

TEST(Resources, TheManifestSelectsTheStyledCommonControls) {
    QFile file(QString::fromStdString(kSource + "/app/vellork.manifest"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    std::vector<QXmlStreamAttributes> identities;
    QStringList path, elements;
    bool sawDeclaration = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartDocument()) {
            sawDeclaration = true;
            EXPECT_EQ(xml.documentEncoding(), QStringLiteral("UTF-8"));
            EXPECT_TRUE(xml.isStandaloneDocument());
        } else if (xml.isStartElement()) {
            path << xml.name().toString();
            elements << path.join('/');
            if (path.size() == 1) {
                EXPECT_EQ(xml.namespaceUri(), QStringLiteral("urn:schemas-microsoft-com:asm.v1"));
                EXPECT_EQ(xml.attributes().value("manifestVersion"), QStringLiteral("1.0"));
            }
            if (xml.name() == QStringLiteral("assemblyIdentity"))
                identities.push_back(xml.attributes());
        } else if (xml.isEndElement()) {
            path.removeLast();
        }
    }
    ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_TRUE(sawDeclaration);
    EXPECT_EQ(elements,
              QStringList({"assembly", "assembly/assemblyIdentity", "assembly/description",
                           "assembly/dependency", "assembly/dependency/dependentAssembly",
                           "assembly/dependency/dependentAssembly/assemblyIdentity"}));
    ASSERT_EQ(identities.size(), 2u);
    EXPECT_EQ(identities[0].value("type"), QStringLiteral("win32"));
    // "*": the program's own processor, whichever it was built for; a 64-bit program whose
    // manifest names x86 gets the old common controls.
    EXPECT_EQ(identities[0].value("processorArchitecture"), QStringLiteral("*"));
    EXPECT_EQ(identities[0].value("version"), QStringLiteral("1.0.0.0"));
    EXPECT_FALSE(identities[0].value("name").isEmpty());
    const std::pair<const char*, const char*> dependency[] = {
        {"type", "win32"},
        {"name", "Microsoft.Windows.Common-Controls"},
        {"version", "6.0.0.0"},
        {"processorArchitecture", "*"},
        {"publicKeyToken", "6595b64144ccf1df"},
        {"language", "*"}};
    for (const auto& [key, value] : dependency)
        EXPECT_EQ(identities[1].value(key), QLatin1String(value)) << key;
}

TEST(Resources, TheIconGroupHoldsFourImages) {
    const std::string ico = vellork::testing::readFile(kSource + "/app/pictures/vellork.ico");
    ASSERT_GE(ico.size(), 6u + 4 * 16);
    auto u16 = [&](std::size_t at) {
        return std::uint16_t(std::uint8_t(ico[at]) | std::uint8_t(ico[at + 1]) << 8);
    };
    auto u32 = [&](std::size_t at) {
        return std::uint32_t(u16(at) | std::uint32_t(u16(at + 2)) << 16);
    };
    ASSERT_EQ(u16(4), 4);
    const struct {
        int size, bits;
        std::uint32_t bytes;
    } images[] = {{32, 8, 2216}, {16, 8, 1384}, {32, 32, 4264}, {16, 32, 1128}};
    for (int i = 0; i < 4; ++i) {
        const std::size_t entry = 6 + 16 * i;
        EXPECT_EQ(std::uint8_t(ico[entry]), images[i].size) << i;
        EXPECT_EQ(u16(entry + 6), images[i].bits) << i;
        EXPECT_EQ(u32(entry + 8), images[i].bytes) << i;
    }
}

}  // namespace
