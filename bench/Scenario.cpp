#include "Scenario.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <random>
#include <sstream>

namespace morph::bench {

namespace {

std::uint8_t Byte(double v) {
    return std::uint8_t(std::clamp(v, 0.0, 255.0));
}

// Gradients, a checkerboard and discs.
Bitmap SourcePicture() {
    Bitmap b(kSide, kSide);
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            double r = x / 2.0, g = y / 2.0, bl = (x + y) / 4.0;
            if (((x / 32) + (y / 32)) % 2 == 0) {
                r = 255 - r;
                bl = 255 - bl;
            }
            for (const auto& [cx, cy, radius] :
                 {std::array<double, 3>{150, 170, 70}, std::array<double, 3>{360, 330, 95},
                  std::array<double, 3>{380, 110, 40}}) {
                if (std::hypot(x - cx, y - cy) < radius) {
                    r = 40 + radius;
                    g = 220 - radius;
                    bl = 90;
                }
            }
            b.setPixel(x, y, RGB(Byte(r), Byte(g), Byte(bl)));
        }
    }
    return b;
}

// Rings, stripes and a gradient.
Bitmap TargetPicture() {
    Bitmap b(kSide, kSide);
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            const double d = std::hypot(x - 260.0, y - 240.0);
            const bool ring = int(d / 18) % 2 == 0;
            const bool stripe = ((x + 2 * y) / 24) % 2 == 0;
            const double r = ring ? 230 : 30 + y / 4.0;
            const double g = stripe ? 200 - x / 4.0 : 60;
            const double bl = 255 - (x + y) / 4.0;
            b.setPixel(x, y, RGB(Byte(r), Byte(g), Byte(bl)));
        }
    }
    return b;
}

int Clamp(double v) {
    return int(std::clamp(std::nearbyint(v), 0.0, double(kSide - 1)));
}

bool HasZeroLengthLine(const Scenario& s) {
    const FrameLineSets sets =
        BuildFrameLineSets(s.sourceLines, s.targetLines, FrameStep(kFrames), kLines,
                           InterpolationMode::EndPoints, kFrames, kSide, kSide);
    for (const LineSet& set : sets) {
        for (int i = 0; i < kLines; ++i) {
            if (set[i].x1 == set[i].x2 && set[i].y1 == set[i].y2) {
                return true;
            }
        }
    }
    return false;
}

Scenario MakeScenario() {
    Scenario s;
    s.source = SourcePicture();
    s.target = TargetPicture();
    std::mt19937 rng(512);
    std::uniform_real_distribution<double> centre(70, kSide - 70), length(40, 160),
        direction(0, 2 * std::numbers::pi), turn(-20.0, 20.0), scale(0.85, 1.15),
        shift(-0.05 * kSide, 0.05 * kSide);
    do {
        for (int i = 0; i < kLines; ++i) {
            const double cx = centre(rng), cy = centre(rng), half = length(rng) / 2;
            const double angle = direction(rng);
            const double c = std::cos(angle), sn = std::sin(angle);
            s.sourceLines[i] = {Clamp(cx - half * c), Clamp(cy - half * sn), Clamp(cx + half * c),
                                Clamp(cy + half * sn)};
            // The Target line: turned by up to 20 degrees, scaled by 0.85 to 1.15 about its
            // midpoint and moved by up to 5 % of the side.
            const double turned = angle + turn(rng) * std::numbers::pi / 180;
            const double h = half * scale(rng);
            const double tx = cx + shift(rng), ty = cy + shift(rng);
            const double tc = std::cos(turned), ts = std::sin(turned);
            s.targetLines[i] = {Clamp(tx - h * tc), Clamp(ty - h * ts), Clamp(tx + h * tc),
                                Clamp(ty + h * ts)};
        }
    } while (HasZeroLengthLine(s));
    return s;
}

} // namespace

const Scenario& TheScenario() {
    static const Scenario scenario = MakeScenario();
    return scenario;
}

WarpConstants Constants(int scenario) {
    return scenario == 1 ? WarpConstants{2, 1, 0} : WarpConstants{1, 1.5, 0.5};
}

MorphSettings Settings(int scenario, int threads) {
    MorphSettings settings;
    settings.frames = kFrames;
    settings.constants = Constants(scenario);
    settings.mode = InterpolationMode::EndPoints;
    settings.refreshStep = 20;
    settings.threads = threads;
    return settings;
}

std::string LinesFileText(const Scenario& scenario) {
    std::ostringstream text;
    text << "# Benchmark scenario of the warp: " << kLines << " line pairs on " << kSide << " x "
         << kSide << " pictures.\n";
    for (int i = 0; i < kLines; ++i) {
        const ControlLine& s = scenario.sourceLines[i];
        const ControlLine& t = scenario.targetLines[i];
        text << "S " << s.x1 << ' ' << s.y1 << ' ' << s.x2 << ' ' << s.y2 << '\n';
        text << "T " << t.x1 << ' ' << t.y1 << ' ' << t.x2 << ' ' << t.y2 << '\n';
    }
    return text.str();
}

} // namespace morph::bench
