#include "progress.h"

#include "json.h"
#include "signals.h"

#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace tvxcli {

namespace {

enum class Style { Quiet, Bar, Lines, Json };
enum class Phase { None, Writing, Closing, Verifying, Erasing };

// Largest chunk the library hands to the drive at once, in sectors.
constexpr uint32_t kChunkSectors = 32;

using Clock = std::chrono::steady_clock;

struct Display {
    Style style = Style::Quiet;
    bool verbose = false;
    Phase phase = Phase::None;
    bool finished = false; // the job's finishing step began
    bool barDrawn = false;
    int lastPlainStep = -1;
    Clock::time_point phaseStart;
    uint32_t phaseStartValue = 0;
    Clock::time_point lastDraw;
    uint32_t value = 0, total = 0;
};

JobFacts facts;
Display display;

const char* EventName(int32_t type) {
    switch (type) {
    case TVX_EVENT_PREPARE:
        return "prepare";
    case TVX_EVENT_FINISHED:
        return "finished";
    case TVX_EVENT_TRACK_BEGIN:
        return "track-begin";
    case TVX_EVENT_TRACK_SIZE:
        return "track-size";
    case TVX_EVENT_WRITE:
        return "write";
    case TVX_EVENT_WAIT:
        return "wait";
    case TVX_EVENT_ERASE_BEGIN:
        return "erase-begin";
    case TVX_EVENT_ERASE_PROGRESS:
        return "erase";
    case TVX_EVENT_VERIFY:
        return "verify";
    default:
        return "other";
    }
}

const char* PhaseName(Phase phase) {
    switch (phase) {
    case Phase::Writing:
        return "writing";
    case Phase::Closing:
        return "closing";
    case Phase::Verifying:
        return "verifying";
    case Phase::Erasing:
        return "erasing";
    default:
        return "working";
    }
}

uint32_t VolumeSize() {
    return facts.trackBlocks ? facts.trackBlocks : facts.progressTotal;
}

// Fraction of the phase done, or a negative value when the phase has no measure.
double Fraction(Phase phase, uint32_t value, uint32_t total) {
    double size = VolumeSize();
    double f = -1;
    switch (phase) {
    case Phase::Writing:
    case Phase::Verifying:
        f = size > 0 ? value / size : -1;
        break;
    case Phase::Closing:
        // The drive pads a short dash-media track; the library estimates its way to the total.
        f = total > size ? (value - size) / (total - size) : -1;
        break;
    case Phase::Erasing:
        f = total ? static_cast<double>(value) / total : -1;
        break;
    default:
        break;
    }
    if (f > 1.0) f = 1.0;
    if (f < 0 && phase != Phase::Closing) f = 0;
    return f;
}

void DrawBar(double fraction) {
    double seconds = std::chrono::duration<double>(Clock::now() - display.phaseStart).count();
    std::fprintf(stderr, "\r%-9s ", PhaseName(display.phase));
    if (fraction < 0) {
        std::fprintf(stderr, "%3d:%02d elapsed   ", static_cast<int>(seconds) / 60,
                     static_cast<int>(seconds) % 60);
    } else {
        const int width = 30;
        int filled = static_cast<int>(fraction * width);
        std::fputc('[', stderr);
        for (int i = 0; i < width; ++i)
            std::fputc(i < filled ? '#' : '.', stderr);
        std::fprintf(stderr, "] %5.1f%%", fraction * 100.0);
        double doneNow = fraction;
        double doneAtStart = Fraction(display.phase, display.phaseStartValue, display.total);
        if (seconds > 0.5 && doneNow > doneAtStart && doneNow < 1.0) {
            double left = seconds * (1.0 - doneNow) / (doneNow - doneAtStart);
            bool sectors = display.phase == Phase::Writing || display.phase == Phase::Verifying;
            if (sectors)
                std::fprintf(stderr, "  %6.1f MB/s",
                             (display.value - display.phaseStartValue) * 2048.0 / seconds / 1e6);
            std::fprintf(stderr, "  %3d:%02d left", static_cast<int>(left) / 60,
                         static_cast<int>(left) % 60);
        }
        std::fprintf(stderr, "   ");
    }
    std::fflush(stderr);
    display.barDrawn = true;
}

void Show(double fraction, bool force) {
    if (display.style == Style::Bar) {
        auto now = Clock::now();
        if (force || now - display.lastDraw > std::chrono::milliseconds(100)) {
            DrawBar(fraction);
            display.lastDraw = now;
        }
    } else if (display.style == Style::Lines && fraction >= 0) {
        int step = static_cast<int>(fraction * 10);
        if (step != display.lastPlainStep) {
            std::fprintf(stderr, "%s: %d%%\n", PhaseName(display.phase), step * 10);
            display.lastPlainStep = step;
        }
    }
}

// Ends the current phase's line, at 100 % when it is known to be complete.
void EndPhase(bool complete) {
    if (display.phase == Phase::None) return;
    if (complete && display.style != Style::Json && display.style != Style::Quiet) {
        double f = Fraction(display.phase, display.value, display.total);
        if (f >= 0) Show(1.0, true);
    }
    if (display.barDrawn) std::fputc('\n', stderr);
    display.barDrawn = false;
    display.phase = Phase::None;
}

void EnterPhase(Phase phase) {
    if (phase == display.phase) return;
    // Verification begins only after writing and closing succeeded; closing begins once the
    // last chunk went out.
    EndPhase(phase == Phase::Verifying || (display.phase == Phase::Writing && facts.writeDone));
    display.phase = phase;
    SetClosingPhase(phase == Phase::Closing);
    display.phaseStart = Clock::now();
    display.phaseStartValue = display.value;
    display.lastPlainStep = -1;
    if (display.verbose && display.style != Style::Json)
        std::fprintf(stderr, "phase: %s\n", PhaseName(phase));
}

void Verbose(const char* format, uint32_t a, uint32_t b) {
    if (!display.verbose || display.style == Style::Json) return;
    std::fprintf(stderr, format, a, b);
}

} // namespace

void StartProgress(const Options& options) {
    facts = JobFacts{};
    display = Display{};
    display.verbose = options.verbose;
    display.style = options.json            ? Style::Json
                    : options.quiet         ? Style::Quiet
                    : isatty(STDERR_FILENO) ? Style::Bar
                                            : Style::Lines;
    if (options.verbose && display.style == Style::Quiet) display.style = Style::Lines;
    SetClosingPhase(false);
    SetStopFeedback(display.style == Style::Bar || display.style == Style::Lines);
}

void SetVolumeSize(uint32_t sectors) {
    facts.trackBlocks = sectors;
}

const JobFacts& Facts() {
    return facts;
}

void EndProgress(bool succeeded) {
    // A job that succeeded ends at 100 %: the events give the position before each step.
    if (succeeded && display.style == Style::Json && display.phase != Phase::None) {
        JsonObject event;
        event.add("event", "progress").add("phase", PhaseName(display.phase));
        event.add("percent", int64_t{100});
        if (facts.trackBlocks) event.add("size", int64_t{facts.trackBlocks});
        std::printf("%s\n", event.str().c_str());
        std::fflush(stdout);
    }
    EndPhase(succeeded);
    SetClosingPhase(false);
    SetStopFeedback(false);
}

int32_t TVX_CALL ProgressCallback(int32_t eventType, uint32_t* data, int32_t) {
    SimulateSignalForTests(eventType);
    uint32_t value = data ? data[0] : 0;
    uint32_t total = data ? data[1] : 0;
    switch (eventType) {
    case TVX_EVENT_PREPARE:
        facts.prepared = true;
        Verbose("phase: preparing the drive\n", 0, 0);
        break;
    case TVX_EVENT_TRACK_BEGIN:
        facts.trackBegun = true;
        break;
    case TVX_EVENT_TRACK_SIZE:
        Verbose("phase: track of %u sectors\n", facts.trackBlocks, 0);
        break;
    case TVX_EVENT_WRITE:
        facts.writing = true;
        facts.written = value;
        facts.progressTotal = total;
        // Not planned before the burn: the library's total is the volume's size.
        if (!facts.trackBlocks) facts.trackBlocks = total;
        if (value + kChunkSectors >= VolumeSize()) facts.writeDone = true;
        break;
    case TVX_EVENT_WAIT:
        // The drive is waited for with the position past the volume's end only once every chunk
        // was taken; a wait during a chunk keeps the position before it, and the finishing step's
        // eject (or anything after a stop) proves nothing.
        if (facts.writeDone && !display.finished && !facts.stopAnswered && facts.trackBlocks &&
            value >= facts.trackBlocks)
            facts.writtenWhole = true;
        break;
    case TVX_EVENT_FINISHED:
        // The phase on screen stays open: whether it completed, the job's result tells.
        display.finished = true;
        Verbose("phase: finishing (removal allowed, eject)\n", 0, 0);
        break;
    case TVX_EVENT_VERIFY:
        // Read-back begins only once the volume is written and closed.
        facts.verifying = true;
        facts.writtenWhole = true;
        break;
    case TVX_EVENT_ERASE_BEGIN:
        facts.erasing = true;
        Verbose("phase: erase begins\n", 0, 0);
        break;
    default:
        break;
    }

    Phase phase = Phase::None;
    switch (eventType) {
    case TVX_EVENT_WRITE:
        phase = Phase::Writing;
        break;
    case TVX_EVENT_WAIT:
        // Waiting for the eject after the finish is no phase of its own.
        phase = display.finished ? Phase::None : Phase::Closing;
        break;
    case TVX_EVENT_VERIFY:
        phase = Phase::Verifying;
        break;
    case TVX_EVENT_ERASE_PROGRESS:
        phase = Phase::Erasing;
        break;
    default:
        break;
    }

    if (display.style == Style::Json) {
        JsonObject event;
        event.add("event", EventName(eventType)).add("type", int64_t{eventType});
        event.add("value", int64_t{value}).add("total", int64_t{total});
        if (phase != Phase::None) {
            double f = Fraction(phase, value, total);
            if (f >= 0) event.add("percent", static_cast<int64_t>(f * 100.0));
        }
        if (facts.trackBlocks) event.add("size", int64_t{facts.trackBlocks});
        std::printf("%s\n", event.str().c_str());
        std::fflush(stdout);
    }
    if (phase != Phase::None) {
        EnterPhase(phase);
        display.value = value;
        display.total = total;
        if (display.style == Style::Bar || display.style == Style::Lines)
            Show(Fraction(phase, value, total), false);
    }
    if (StopRequested()) facts.stopAnswered = true;
    return facts.stopAnswered ? 0 : 1;
}

} // namespace tvxcli
