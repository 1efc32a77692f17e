#include "model/ColorTheme.h"
#include "model/Color.h"
#include "model/KnownColorThemes.h"

#include <QStringList>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace corvex;

namespace {

// The colour table as documents know it, one colour a line: theme, colour, hue, saturation,
// value, bright. Kept as text, parsed at run time, so that the comparison goes through a
// different path than the product's literals.
const char* const kTableText = R"(
greens green0 160 0.67 0.52 no
greens green1 166 0.81 0.61 no
greens green2 169 0.81 0.71 no
greens green3 169 0.64 0.83 no
greens green4 169 0.86 0.89 yes
greens green5 165 0.33 0.84 yes
greens green6 163 0.21 0.75 yes
blues blue0 192 0.96 0.42 no
blues blue1 187 0.73 0.5 no
blues blue2 187 0.57 0.64 no
blues blue3 187 0.68 0.79 no
blues blue4 188 0.65 0.92 yes
blues blue5 192 0.43 0.86 yes
blues blue6 198 0.33 0.8 yes
reds red0 346 0.83 0.38 no
reds red1 355 0.83 0.6 no
reds red2 14 0.81 0.76 no
reds red3 18 0.78 0.87 no
reds red4 11 0.57 0.9 yes
reds red5 0 0.3 0.8 no
reds red6 0 0.28 0.68 no
violets violet0 244 0.38 0.44 no
violets violet1 247 0.29 0.55 no
violets violet2 250 0.21 0.66 no
violets violet3 249 0.11 0.77 no
violets violet4 249 0.07 0.83 yes
violets violet5 252 0.02 0.82 yes
violets violet6 250 0.04 0.66 no
bright1 bright1_1 207 0.39 0.82 no
bright1 bright1_2 211 0.5 0.4 no
bright1 bright1_3 348 0.55 0.76 no
bright1 bright1_4 334 0.89 0.96 no
bright1 bright1_5 352 0.9 0.98 no
bright1 bright1_6 23 0.98 0.99 no
bright1 bright1_7 33 0.37 0.99 yes
bright2 bright2_1 38 0.99 0.96 no
bright2 bright2_2 58 0.91 0.93 yes
bright2 bright2_3 132 0.77 0.99 yes
bright2 bright2_4 150 0.82 0.9 yes
bright2 bright2_5 171 0.78 1 yes
bright2 bright2_6 190 0.73 0.9 yes
bright2 bright2_7 208 0.83 0.99 no
bright3 bright3_1 226 0.55 1 no
bright3 bright3_2 185 0.49 1 yes
bright3 bright3_3 192 0.94 1 yes
bright3 bright3_4 212 0.83 0.93 no
bright3 bright3_5 227 0.97 1 no
bright3 bright3_6 203 0.71 0.56 no
bright3 bright3_7 204 0.91 0.35 no
bright4 bright4_1 35 0.19 0.35 no
bright4 bright4_2 47 0.47 0.98 yes
bright4 bright4_3 17 0.69 0.94 no
bright4 bright4_4 359 0.74 0.75 no
bright4 bright4_5 169 0.78 0.73 no
bright4 bright4_6 314 0.94 0.47 no
bright4 bright4_7 252 0.02 0.82 yes
)";

struct Row
{
    QString theme;
    QString name;
    double hue;
    double saturation;
    double value;
    bool bright;
};

// The nearest 32-bit float to the decimal text, widened.
double widenedFloat(const QString& text)
{
    return double(std::strtof(text.toLatin1().constData(), nullptr));
}

std::vector<Row> expectedTable()
{
    std::vector<Row> rows;
    for (const QString& line : QString::fromLatin1(kTableText).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList f = line.split(QLatin1Char(' '));
        rows.push_back(
            {f[0], f[1], widenedFloat(f[2]), widenedFloat(f[3]), widenedFloat(f[4]), f[5] == "yes"});
    }
    return rows;
}

} // namespace

TEST(ColorTable, HoldsFourStandardAndFourBrightThemesOfSevenColoursInTableOrder)
{
    const auto& standard = ColorTheme::standardThemes();
    const auto& bright = ColorTheme::brightColorThemes();
    ASSERT_EQ(standard.size(), 4u);
    ASSERT_EQ(bright.size(), 4u);
    const QStringList standardNames{"greens", "blues", "reds", "violets"};
    const QStringList brightNames{"bright1", "bright2", "bright3", "bright4"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(standard[i]->name(), standardNames[i]);
        EXPECT_TRUE(standard[i]->standard()) << standardNames[i].toStdString();
        EXPECT_EQ(standard[i]->colors().size(), 7u);
        EXPECT_EQ(bright[i]->name(), brightNames[i]);
        EXPECT_FALSE(bright[i]->standard()) << brightNames[i].toStdString();
        EXPECT_EQ(bright[i]->colors().size(), 7u);
    }
    EXPECT_EQ(&KnownColorThemes::sharedInstance(), &KnownColorThemes::sharedInstance());
    EXPECT_EQ(&KnownColorThemes::sharedInstance().standardThemes(), &standard);
    EXPECT_EQ(&KnownColorThemes::sharedInstance().brightThemes(), &bright);
}

TEST(ColorTable, EveryColourHasItsTableValuesAsWidenedSinglePrecisionExactly)
{
    const std::vector<Row> rows = expectedTable();
    ASSERT_EQ(rows.size(), 56u);
    std::vector<std::shared_ptr<ColorTheme>> themes = ColorTheme::standardThemes();
    themes.insert(themes.end(), ColorTheme::brightColorThemes().begin(),
                  ColorTheme::brightColorThemes().end());
    std::size_t index = 0;
    for (const auto& theme : themes) {
        for (const ColorPtr& color : theme->colors()) {
            ASSERT_LT(index, rows.size());
            const Row& row = rows[index++];
            SCOPED_TRACE(row.name.toStdString());
            EXPECT_EQ(theme->name(), row.theme);
            EXPECT_EQ(color->name(), row.name);
            // Exact comparisons: the stored format depends on these bits.
            EXPECT_EQ(color->hsva().hue, row.hue);
            EXPECT_EQ(color->hsva().saturation, row.saturation);
            EXPECT_EQ(color->hsva().value, row.value);
            EXPECT_EQ(color->hsva().alpha, 1.0);
            EXPECT_EQ(color->isBright(), row.bright);
            EXPECT_EQ(color->theme(), theme);
        }
    }
    EXPECT_EQ(index, 56u);
    // The widened float differs from the nearest double: the table must not hold the latter.
    EXPECT_NE(ColorTheme::colorByName("green0")->hsva().saturation, 0.67);
}

TEST(ColorTable, ColorByNameFindsEveryNameAndNothingElse)
{
    for (const Row& row : expectedTable()) {
        const ColorPtr color = ColorTheme::colorByName(row.name);
        ASSERT_TRUE(color) << row.name.toStdString();
        EXPECT_EQ(color->name(), row.name);
        EXPECT_EQ(color->theme()->name(), row.theme);
        EXPECT_EQ(KnownColorThemes::sharedInstance().colorByName(row.name), color);
    }
    EXPECT_EQ(ColorTheme::colorByName("green0"), ColorTheme::standardThemes()[0]->colors()[0]);
    for (const char* unknown : {"green7", "Green0", "green0 ", "", "bright5_1", "greens"})
        EXPECT_EQ(ColorTheme::colorByName(QString::fromLatin1(unknown)), nullptr) << unknown;
    EXPECT_EQ(ColorTheme::colorByName(QString()), nullptr);
}

TEST(ColorTable, IsBuiltOnceWhenManyThreadsAskFirst)
{
    // Each test runs in a fresh process, so these threads race to build the table.
    std::vector<std::thread> threads;
    std::vector<Color*> seen(8, nullptr);
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&seen, i] { seen[i] = ColorTheme::colorByName("blue3").get(); });
    for (auto& thread : threads)
        thread.join();
    ASSERT_NE(seen[0], nullptr);
    for (Color* color : seen)
        EXPECT_EQ(color, seen[0]);
}

TEST(ColorTable, Red5ComputesItsRgbFormThroughTheConverter)
{
    const ColorPtr red5 = ColorTheme::colorByName("red5");
    ASSERT_TRUE(red5);
    EXPECT_NEAR(red5->rgba().red, 204.0, 1e-4);
    EXPECT_NEAR(red5->rgba().green, 142.8, 1e-4);
    EXPECT_NEAR(red5->rgba().blue, 142.8, 1e-4);
    EXPECT_EQ(red5->rgba().alpha, 1.0);
    EXPECT_EQ(red5->rgba().green, red5->rgba().blue);

    const PlatformColor ui = red5->uiColor();
    EXPECT_DOUBLE_EQ(ui.redComponent(), red5->rgba().red / 255);
    EXPECT_DOUBLE_EQ(ui.greenComponent(), red5->rgba().green / 255);
    EXPECT_DOUBLE_EQ(ui.blueComponent(), red5->rgba().blue / 255);
    EXPECT_EQ(ui.alphaComponent(), 1.0);
}

TEST(ColorTable, EveryRgbFormIsTheConverterOutputOfItsHsvForm)
{
    for (const auto* list : {&ColorTheme::standardThemes(), &ColorTheme::brightColorThemes()}) {
        for (const auto& theme : *list) {
            for (const ColorPtr& color : theme->colors()) {
                RGBA expected;
                ColorSpaceConverter::HSVToRGB(color->hsva(), expected);
                EXPECT_EQ(color->rgba().red, expected.red) << color->name().toStdString();
                EXPECT_EQ(color->rgba().green, expected.green) << color->name().toStdString();
                EXPECT_EQ(color->rgba().blue, expected.blue) << color->name().toStdString();
                EXPECT_GE(color->rgba().red, 0.0);
                EXPECT_LE(color->rgba().red, 255.0);
            }
        }
    }
}

TEST(ColorTheme, NextColorWrapsAndFindsNothingForForeignColours)
{
    const auto violets = ColorTheme::themeByName("violets");
    ASSERT_TRUE(violets);
    EXPECT_EQ(violets->nextColorFromColor(ColorTheme::colorByName("violet6")),
              ColorTheme::colorByName("violet0"));
    EXPECT_EQ(violets->nextColorFromColor(ColorTheme::colorByName("violet2")),
              ColorTheme::colorByName("violet3"));
    EXPECT_EQ(violets->nextColorFromColor(ColorTheme::colorByName("red2")), nullptr);
    EXPECT_EQ(violets->nextColorFromColor(nullptr), nullptr);
    // Identity, not name: a lookalike outside the table is not in the theme.
    const ColorPtr lookalike = Color::withHSV("violet2", ColorTheme::colorByName("violet2")->hsva());
    EXPECT_EQ(violets->nextColorFromColor(lookalike), nullptr);

    const auto empty = ColorTheme::create();
    EXPECT_TRUE(empty->name().isNull());
    EXPECT_TRUE(empty->colors().empty());
    EXPECT_EQ(empty->nextColorFromColor(ColorTheme::colorByName("violet2")), nullptr);

    // A one-colour theme wraps onto itself.
    const ColorPtr single = ColorTheme::colorByName("blue1");
    EXPECT_EQ(ColorTheme::unnamedThemeWithColor(single)->nextColorFromColor(single), single);
}

TEST(ColorTheme, ThemeByNameSearchesOnlyTheStandardThemes)
{
    EXPECT_EQ(ColorTheme::themeByName("reds"), ColorTheme::standardThemes()[2]);
    EXPECT_EQ(ColorTheme::themeByName("greens"), ColorTheme::standardThemes()[0]);
    EXPECT_EQ(ColorTheme::themeByName("bright1"), nullptr);
    EXPECT_EQ(ColorTheme::themeByName("Reds"), nullptr);
    EXPECT_EQ(ColorTheme::themeByName(QString()), nullptr);
}

TEST(ColorTheme, UnnamedThemeHoldsOnlyTheGivenColourAndDoesNotAdoptIt)
{
    const ColorPtr red3 = ColorTheme::colorByName("red3");
    const auto theme = ColorTheme::unnamedThemeWithColor(red3);
    EXPECT_TRUE(theme->name().isNull());
    ASSERT_EQ(theme->colors().size(), 1u);
    EXPECT_EQ(theme->colors()[0], red3);
    EXPECT_FALSE(theme->standard());
    // The colour still belongs to its table theme.
    EXPECT_EQ(red3->theme(), ColorTheme::themeByName("reds"));

    EXPECT_TRUE(ColorTheme::unnamedThemeWithColor(nullptr)->colors().empty());

    const auto own = ColorTheme::create("mine");
    own->addColor(nullptr);
    EXPECT_TRUE(own->colors().empty());
    own->addColor(red3);
    own->addColor(red3);
    EXPECT_EQ(own->colors().size(), 2u);
    own->setStandard(true);
    EXPECT_TRUE(own->standard());
}

TEST(Color, MadeFromRgbComputesHsvAndPlatformColour)
{
    const ColorPtr color = Color::withRGB("custom", RGBA{204, 51, 0, 0.5});
    EXPECT_EQ(color->name(), "custom");
    EXPECT_EQ(color->theme(), nullptr);
    EXPECT_FALSE(color->isBright());
    EXPECT_EQ(color->rgba().red, 204.0);
    EXPECT_EQ(color->rgba().green, 51.0);
    EXPECT_EQ(color->rgba().blue, 0.0);
    EXPECT_EQ(color->rgba().alpha, 0.5);
    EXPECT_NEAR(color->hsva().hue, 15.0, 1e-4);
    EXPECT_NEAR(color->hsva().saturation, 1.0, 1e-6);
    EXPECT_NEAR(color->hsva().value, 0.8, 1e-6);
    EXPECT_EQ(color->hsva().alpha, 0.5);
    EXPECT_DOUBLE_EQ(color->uiColor().redComponent(), 0.8);
    EXPECT_DOUBLE_EQ(color->uiColor().greenComponent(), 0.2);
    EXPECT_EQ(color->uiColor().blueComponent(), 0.0);
    EXPECT_EQ(color->uiColor().alphaComponent(), 0.5);
}

TEST(Color, MadeFromAPlatformColourScalesItsComponentsTo255)
{
    const ColorPtr color = Color::withPlatformColor("p", PlatformColor::sRGB(1.0, 0.5, 0.0, 0.25));
    EXPECT_EQ(color->rgba().red, 255.0);
    EXPECT_EQ(color->rgba().green, 127.5);
    EXPECT_EQ(color->rgba().blue, 0.0);
    EXPECT_EQ(color->rgba().alpha, 0.25);
    EXPECT_EQ(color->uiColor(), PlatformColor::sRGB(1.0, 0.5, 0.0, 0.25));
}

TEST(Color, MadeFromHsvKeepsItsHsvAndComputesRgb)
{
    const HSVA hsv{120.0, 0.5, 0.4, 1.0};
    const ColorPtr color = Color::withHSV("g", hsv);
    EXPECT_EQ(color->hsva().hue, 120.0);
    EXPECT_EQ(color->hsva().saturation, 0.5);
    EXPECT_EQ(color->hsva().value, 0.4);
    EXPECT_NEAR(color->rgba().red, 51.0, 1e-9);
    EXPECT_NEAR(color->rgba().green, 102.0, 1e-9);
    EXPECT_NEAR(color->rgba().blue, 51.0, 1e-9);
    EXPECT_EQ(color->theme(), nullptr);
}

TEST(Color, OddComponentsGiveDefinedColours)
{
    const ColorPtr nanColor = Color::withRGB("nan", RGBA{std::nan(""), 10, 10, 1});
    EXPECT_EQ(nanColor->hsva().value, 0.0);
    EXPECT_EQ(nanColor->uiColor().redComponent(), 0.0);
    const ColorPtr big = Color::withRGB("big", RGBA{1000, -20, 0, 3});
    EXPECT_EQ(big->uiColor().redComponent(), 1.0);
    EXPECT_EQ(big->uiColor().greenComponent(), 0.0);
    EXPECT_EQ(big->uiColor().alphaComponent(), 1.0);
}

TEST(Color, OutlivesNothingItDoesNotOwn)
{
    // A theme owns its colours; a colour only points back weakly, so dropping the theme
    // frees both and the colour, if still held, reports no theme.
    std::weak_ptr<ColorTheme> weakTheme;
    ColorPtr survivor;
    {
        auto theme = ColorTheme::create("temporary");
        theme->addColor(Color::withHSV("t0", 10, 0.5f, 0.5f, 1, false, theme));
        survivor = theme->colors()[0];
        EXPECT_EQ(survivor->theme(), theme);
        weakTheme = theme;
    }
    EXPECT_TRUE(weakTheme.expired());
    EXPECT_EQ(survivor->theme(), nullptr);
    EXPECT_EQ(survivor->hsva().hue, 10.0);
}
