#include "common/Errors.h"
#include "common/NumberText.h"
#include "optimisation/EtalonOptimisation.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace merkanix {

namespace {

TDateTime SystemNow() {
    using namespace std::chrono;
    const double seconds = duration<double>(system_clock::now().time_since_epoch()).count();
    return seconds / 86400.0 + 25569.0; // 1970-01-01 in days since 1899-12-30
}

std::array<std::string, 6> PositionTexts(const CameraPoints& p, char separator) {
    return {FormatGeneral(p[0].x, separator), FormatGeneral(p[0].y, separator),
            FormatGeneral(p[1].x, separator), FormatGeneral(p[1].y, separator),
            FormatGeneral(p[2].x, separator), FormatGeneral(p[2].y, separator)};
}

} // namespace

DescentTexts DefaultDescentTexts(char decimalSeparator) {
    DescentTexts t;
    t.diameter = WithDecimalSeparator("1,020", decimalSeparator);
    t.epsilon = WithDecimalSeparator("0,000001", decimalSeparator);
    t.step = WithDecimalSeparator("0,1", decimalSeparator);
    t.kappa = "10000";
    t.sufficientGradient = WithDecimalSeparator("0,000000000001", decimalSeparator);
    t.timeLimit = "15";
    for (int k = 0; k < 3; ++k) {
        t.f[k] = "16";
        t.yc[k] = WithDecimalSeparator("245,5", decimalSeparator);
    }
    return t;
}

DescentSettings ReadDescentSettings(const DescentTexts& texts, char decimalSeparator) {
    DescentSettings s;
    s.diameter = ParseReal(texts.diameter, decimalSeparator);
    s.epsilon = ParseReal(texts.epsilon, decimalSeparator);
    s.step = ParseReal(texts.step, decimalSeparator);
    s.kappa = ParseReal(texts.kappa, decimalSeparator);
    s.sufficientGradient = ParseReal(texts.sufficientGradient, decimalSeparator);
    s.timeLimit = ParseReal(texts.timeLimit, decimalSeparator);
    for (int k = 0; k < 3; ++k) {
        s.f[k] = ParseReal(texts.f[k], decimalSeparator);
        s.yc[k] = ParseReal(texts.yc[k], decimalSeparator);
    }
    return s;
}

DescentOutcome GradientDescent(const DescentRun& run, const std::array<std::string, 3>& startFTexts,
                               const std::function<void(const PassReport&)>& onPass) {
    const DescentSettings& s = run.settings;
    const char sep = run.decimalSeparator;
    const std::function<TDateTime()> clock = run.clock ? run.clock : SystemNow;
    ObjectiveData data;
    data.diameter = s.diameter;
    data.yc = s.yc;
    data.reference = run.reference;
    data.triples = run.triples;

    DescentOutcome outcome;
    outcome.bestText = run.bestObjective;
    outcome.bestFTexts = startFTexts;
    outcome.bestF = s.f;

    FocalLengths f = s.f;
    const double h = s.step;
    WorkerPool workers(
        std::min<unsigned>(std::max(1u, run.jobs), static_cast<unsigned>(run.triples.size())));
    const TDateTime start = clock();
    try {
        for (;;) {
            PassReport report;
            report.pass = ++outcome.passes;
            report.f = f;
            report.positions = CameraPositions(s.diameter, f, s.yc, run.reference);
            report.positionTexts = PositionTexts(report.positions, sep);
            report.sums = EtalonObjective(data, f, h, run.variant(), workers);
            const double g0 = report.sums[kG0];
            report.g0Text = FormatGeneral(g0, sep);
            for (int k = 0; k < 3; ++k)
                report.fTexts[k] = FormatGeneral(f[k], sep);

            // The best lives as its 15-digit text; a NaN cannot be compared.
            if (std::isnan(g0)) {
                report.best = ParseReal(outcome.bestText, sep);
                report.bestText = outcome.bestText;
                report.bestFTexts = outcome.bestFTexts;
                onPass(report);
                throw FloatingPointError(kInvalidOperationText);
            }
            if (ParseReal(outcome.bestText, sep) > g0) {
                report.improved = true;
                outcome.improved = true;
                outcome.bestText = report.g0Text;
                outcome.bestFTexts = report.fTexts;
                outcome.bestF = f;
            }
            report.bestText = outcome.bestText;
            report.bestFTexts = outcome.bestFTexts;
            report.best = ParseReal(outcome.bestText, sep);

            for (int k = 0; k < 3; ++k)
                report.gradient[k] = (report.sums[2 * k + 2] - report.sums[2 * k + 1]) / (2 * h);
            const auto& g = report.gradient;
            report.norm = std::sqrt(g[0] * g[0] + g[1] * g[1] + g[2] * g[2]);
            for (int k = 0; k < 3; ++k)
                report.gradientTexts[k] = FormatGeneral(g[k], sep);
            report.normText = FormatGeneral(report.norm, sep);
            report.gradientShown = true;
            onPass(report);

            for (int k = 0; k < 3; ++k)
                f[k] = f[k] - s.kappa * g[k];
            const auto elapsed = static_cast<std::int64_t>(std::fabs(clock() - start) * 86400.0);

            if (!(g0 > s.epsilon)) {
                outcome.stop = DescentStop::SmallObjective;
                break;
            }
            if (std::isnan(report.norm)) throw FloatingPointError(kInvalidOperationText);
            if (!(report.norm > s.sufficientGradient)) {
                outcome.stop = DescentStop::SmallGradient;
                break;
            }
            if (!(static_cast<double>(elapsed) < s.timeLimit)) {
                outcome.stop = DescentStop::TimeLimit;
                break;
            }
            if (run.maxPasses > 0 && outcome.passes >= run.maxPasses) {
                outcome.stop = DescentStop::PassLimit;
                break;
            }
            if (run.cancel != nullptr && run.cancel->load()) {
                outcome.stop = DescentStop::Cancelled;
                break;
            }
        }
    } catch (const Error& e) {
        outcome.stop = DescentStop::Failed;
        outcome.error = e.what();
    }

    // The camera handed over pairs the best focal lengths, as the f edits
    // hold them, with the positions they give.
    try {
        if (outcome.improved)
            for (int k = 0; k < 3; ++k)
                outcome.bestF[k] = ParseReal(outcome.bestFTexts[k], sep);
        outcome.bestPositions = CameraPositions(s.diameter, outcome.bestF, s.yc, run.reference);
    } catch (const Error&) {
        outcome.bestPositions = {Point2D{NoValue(), NoValue()}, Point2D{NoValue(), NoValue()},
                                 Point2D{NoValue(), NoValue()}};
    }
    outcome.bestPositionTexts = PositionTexts(outcome.bestPositions, sep);
    return outcome;
}

} // namespace merkanix
