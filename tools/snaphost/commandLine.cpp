#include "commandLine.h"

#include <cstring>

#include "exitCodes.h"
#include "text.h"

namespace snaphost {

namespace {

enum class Arg { None, Required, Optional };
enum class Id { Size, Pre, Post, DryRun, Json, Sweep, Trace, Verbose, Quiet, Library, ClientDir,
                Version, Help };

struct Spec {
    const char* longName;
    char shortName;  // 0: long form only
    Arg arg;
    Id id;
};

constexpr Spec kSpecs[] = {
    {"size", 's', Arg::Required, Id::Size},
    {"pre", 0, Arg::Required, Id::Pre},
    {"post", 0, Arg::Required, Id::Post},
    {"dry-run", 'n', Arg::None, Id::DryRun},
    {"json", 0, Arg::Optional, Id::Json},
    {"sweep", 0, Arg::Required, Id::Sweep},
    {"trace", 't', Arg::Required, Id::Trace},
    {"verbose", 'v', Arg::None, Id::Verbose},
    {"quiet", 'q', Arg::None, Id::Quiet},
    {"library", 'l', Arg::Required, Id::Library},
    {"client-dir", 0, Arg::Required, Id::ClientDir},
    {"version", 'V', Arg::None, Id::Version},
    {"help", 'h', Arg::None, Id::Help},
};

class Parser {
  public:
    explicit Parser(const std::vector<std::string>& args) : args_(args) {}

    ParsedCommandLine run() {
        ParsedCommandLine out;
        std::string error = parse();
        out.options = options_;
        out.error = error;
        return out;
    }

  private:
    std::string parse() {
        bool sawVolume = false;
        while (i_ < args_.size()) {
            const std::string& word = args_[i_];
            if (word == "--") {
                ++i_;
                takeCommand();
                break;
            }
            if (word.size() > 1 && word[0] == '-') {
                std::string error = word[1] == '-' ? longOption(word) : shortOptions(word);
                if (!error.empty()) return error;
                continue;
            }
            if (!sawVolume && options_.action != Options::Action::Sweep) {
                options_.volume = word;
                sawVolume = true;
                ++i_;
                continue;
            }
            if (options_.action == Options::Action::Sweep)
                return strf("--sweep takes no VOLUME or COMMAND, but '%s' was given", word.c_str());
            // The first word after VOLUME that is not an option starts COMMAND: everything
            // after it belongs to COMMAND.
            takeCommand();
            break;
        }
        return check();
    }

    void takeCommand() {
        options_.command.assign(args_.begin() + static_cast<long>(i_), args_.end());
        i_ = args_.size();
    }

    std::string check() {
        if (options_.action == Options::Action::Help ||
            options_.action == Options::Action::Version)
            return std::string();
        if (options_.verbosity == 0 && sawVerbose_) return "-q and -v contradict each other";
        if (options_.action == Options::Action::Sweep) {
            if (!options_.command.empty()) return "--sweep takes no VOLUME or COMMAND";
            for (const char* option : {"size", "pre", "post"})
                if (seen(option)) return strf("--%s has no meaning with --sweep", option);
            return std::string();
        }
        if (options_.volume.empty()) return "no volume given";
        if (options_.command.empty())
            return strf("no backup command given after %s", options_.volume.c_str());
        if (options_.command[0].empty()) return "the backup command is an empty word";
        return std::string();
    }

    bool seen(const std::string& name) const {
        for (const std::string& s : seen_)
            if (s == name) return true;
        return false;
    }

    std::string longOption(const std::string& word) {
        size_t eq = word.find('=');
        std::string name = word.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        for (const Spec& spec : kSpecs) {
            if (name != spec.longName) continue;
            ++i_;
            std::optional<std::string> value;
            if (eq != std::string::npos) {
                if (spec.arg == Arg::None) return strf("option --%s takes no value", name.c_str());
                value = word.substr(eq + 1);
            } else if (spec.arg == Arg::Required) {
                if (i_ >= args_.size() || args_[i_] == "--")
                    return strf("option --%s needs a value", name.c_str());
                value = args_[i_++];
            }
            return apply(spec, value);
        }
        return strf("unknown option --%s", name.c_str());
    }

    std::string shortOptions(const std::string& word) {
        ++i_;
        for (size_t j = 1; j < word.size(); ++j) {
            const Spec* found = nullptr;
            for (const Spec& spec : kSpecs)
                if (spec.shortName != 0 && spec.shortName == word[j]) found = &spec;
            if (found == nullptr) return strf("unknown option -%c", word[j]);
            if (found->arg == Arg::None) {
                std::string error = apply(*found, std::nullopt);
                if (!error.empty()) return error;
                continue;
            }
            // A value follows the letter directly (-s20) or as the next word (-s 20).
            std::string value = word.substr(j + 1);
            if (value.empty()) {
                if (i_ >= args_.size() || args_[i_] == "--")
                    return strf("option -%c needs a value", word[j]);
                value = args_[i_++];
            }
            return apply(*found, value);
        }
        return std::string();
    }

    std::string apply(const Spec& spec, const std::optional<std::string>& value) {
        bool repeatable = spec.id == Id::Verbose;
        if (!repeatable && seen(spec.longName))
            return strf("option --%s is given twice", spec.longName);
        seen_.emplace_back(spec.longName);
        switch (spec.id) {
            case Id::Size: {
                std::optional<SizeRequest> size = parseSize(*value);
                if (!size)
                    return strf("--size takes a percentage of the volume from 1 to 100 (10 or "
                                "10%%) or a size with a unit (512M, 2G), not '%s'",
                                value->c_str());
                options_.size = *size;
                break;
            }
            case Id::Pre:
                if (!value->empty()) options_.pre = *value;
                break;
            case Id::Post:
                if (!value->empty()) options_.post = *value;
                break;
            case Id::DryRun: options_.dryRun = true; break;
            case Id::Json:
                options_.jsonPath = value.value_or("-");
                if (options_.jsonPath->empty()) return "--json= needs a file name (or none)";
                break;
            case Id::Sweep:
                if (!options_.volume.empty())
                    return strf("--sweep takes no VOLUME, but '%s' was given",
                                options_.volume.c_str());
                options_.action = Options::Action::Sweep;
                options_.sweepGroup = *value;
                break;
            case Id::Trace: options_.tracePath = *value; break;
            case Id::Verbose:
                sawVerbose_ = true;
                if (options_.verbosity > 0) ++options_.verbosity;
                break;
            case Id::Quiet: options_.verbosity = 0; break;
            case Id::Library: options_.libraryPath = *value; break;
            case Id::ClientDir: options_.clientDir = *value; break;
            case Id::Version: options_.action = Options::Action::Version; break;
            case Id::Help: options_.action = Options::Action::Help; break;
        }
        return std::string();
    }

    const std::vector<std::string>& args_;
    size_t i_ = 0;
    Options options_;
    std::vector<std::string> seen_;
    bool sawVerbose_ = false;
};

// Wraps text at 79 columns, each line indented by indent.
std::string wrap(const std::string& text, size_t indent, size_t firstUsed) {
    std::string out;
    size_t used = firstUsed;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        std::string word = text.substr(start, end - start);
        if (used > indent && used + 1 + word.size() > 79) {
            out += "\n" + std::string(indent, ' ');
            used = indent;
        } else if (used > indent) {
            out += ' ';
            ++used;
        }
        out += word;
        used += word.size();
        start = end + 1;
    }
    return out;
}

}  // namespace

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args) {
    return Parser(args).run();
}

std::string helpText() {
    std::string text = R"(Usage: snaphost [OPTION]... VOLUME [--] COMMAND [ARGUMENT]...
       snaphost --sweep VG [--dry-run] [--json[=FILE]]

Take a point-in-time snapshot of the LVM logical volume VOLUME, run COMMAND
while the snapshot exists, then remove the snapshot. COMMAND reads a frozen
image of VOLUME from the snapshot device while VOLUME itself stays in use, so
what it copies is consistent.

VOLUME is given as /dev/VG/LV or as VG/LV. The snapshot is created in the same
volume group, named after the date and time, for example
/dev/vg01/bkpsnapshot_date_7_4_2026_time_9.5.30, and tagged with what
identifies this run (see --sweep).

In COMMAND and its arguments every "{}" is replaced by the snapshot's device
path; the path is also in the environment variable SNAPHOST_DEVICE. COMMAND
is started directly, not through a shell: use  sh -c '...'  for pipes and
redirections. Options may come anywhere before "--"; without "--", COMMAND
starts at the first word after VOLUME that is not an option, and a word that
starts with "-" is never taken for COMMAND. Put "--" before COMMAND when it
has options of its own.

Examples:
  snaphost /dev/vg01/home -- dd if={} of=/backup/home.img bs=1M
  snaphost --size 2G vg01/db --pre 'db-ctl pause' --post 'db-ctl resume' \
      -- sh -c 'gzip -c < "$SNAPHOST_DEVICE" > /backup/db.img.gz'
  snaphost --dry-run --size 512M vg01/home -- dd if={} of=/backup/home.img
  snaphost --sweep vg01

Options:
  -s, --size=SIZE       room for changes to VOLUME while the snapshot exists:
                        a percentage of VOLUME (1 to 100, as 10 or 10%;
                        default 10) or a size with a unit K, M, G or T
                        (512M, 2G). It must fit in the volume group's free
                        space, which is checked before anything is created.
                        When more than that is written to VOLUME during the
                        backup, the snapshot overflows (exit code 14).
      --pre=COMMAND     shell command run just before the snapshot is taken,
                        for example to make an application pause its writes
      --post=COMMAND    shell command run just after the snapshot is taken,
                        for example to let the application go on. Once the
                        pre command has run, the post command runs too, even
                        when the pre command or the snapshot failed, so that
                        it can undo what the pre command did.
  -n, --dry-run         check everything and show the volume manager commands
                        a run would make, and the size, but change nothing
      --json[=FILE]     at the end, write one JSON object with the result to
                        FILE (default: standard output): volume, snapshot,
                        size, peak fill, each stage's duration, exit code
                        and error text
      --sweep=VG        remove the snapshots in VG that snaphost created and
                        whose run is gone (killed, or the machine went down);
                        nothing else: not a snapshot without snaphost's tag,
                        not one whose run is still alive, never an origin
  -t, --trace=FILE      append a trace of every step (snaphost's and the
                        plug-in's) to FILE; "-" writes it to standard error
  -v, --verbose         report each step; twice also each fill level read
  -q, --quiet           report errors only
  -l, --library=PATH    the plug-in library to load; default: the one named
                        by $SNAPHOST_LIBRARY, else the installed one, else
                        libPiSNP.so next to snaphost (or in ../ or ../lib/),
                        else the one the dynamic loader finds
      --client-dir=DIR  the client directory with the message catalogs
                        (EN_US/arcclientV3.cat and others); default: $ARC_DIR,
                        else the installed catalogs, else the library's
                        directory
  -V, --version         show the version and the library found, and exit
  -h, --help            show this help and exit

While COMMAND runs, snaphost reads the snapshot's fill level from the volume
manager (lvs), more often the faster it fills, and shows it; the highest
level is reported at the end. When the snapshot overflows, COMMAND and
everything it started are ended, the snapshot is removed, and snaphost says
what size to try.

Environment of the commands: SNAPHOST_ORIGIN holds VOLUME's device path for
all three commands; SNAPHOST_DEVICE holds the snapshot's device path for the
post command and COMMAND.

The snapshot is always removed at the end: also when COMMAND fails, and when
snaphost gets SIGINT (Ctrl-C), SIGTERM, SIGHUP or SIGQUIT. Such a signal is
passed on to COMMAND and everything it started; what has not ended 10 seconds
later is killed. If snaphost itself is killed (kill -9, a crash), COMMAND is
ended all the same, and the snapshot stays until snaphost --sweep removes it;
every run warns about such leftovers of its volume.

snaphost needs the rights of the volume manager (root) and finds lvcreate,
lvremove, lvs, vgs and lvchange in /sbin, in /usr/sbin or on PATH.

Exit status (every failure is reported on standard error):
)";
    for (const ExitCodeText& code : kExitCodeTexts) {
        std::string head = strf("  %5s  ", code.code);
        text += head + wrap(code.meaning, 9, head.size()) + "\n";
    }
    return text;
}

}  // namespace snaphost
