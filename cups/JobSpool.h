#pragma once

// The decisions of the PDF printer backend that do not touch the system:
// which job owners are accepted, where and under which name a job folder is
// written, and the option text stored beside the document. Plain C++ and
// libcups, no Qt.

#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace JobSpool
{

// Name of the environment variable that relocates the spool root, the same
// as the client's.
constexpr const char* kRootPrefixVariable = "ORIX_ROOT_PREFIX";

// "/var/spool/cups-pdf/" (with its trailing slash), moved under prefix when
// prefix is set and not "/"; trailing slashes of prefix are ignored.
std::string SpoolRoot(const char* prefix);

// True for a name that can be a local user's spool folder: 1 to 255 of the
// portable characters A-Z a-z 0-9 . _ -, not starting with "-", and neither
// "." nor "..". Whether the user exists is checked separately.
bool IsPlainUserName(const std::string& name);

// The system's table of account ranges; its UID_MIN is the first uid of a
// person's account, below it are root and the system accounts.
constexpr const char* kLoginDefs = "/etc/login.defs";
constexpr unsigned long kDefaultUidMin = 1000;

// UID_MIN of the login.defs file at path: its last "UID_MIN <number>" line,
// kDefaultUidMin when the file or the line is missing or the number is not
// one. Never below 1: root is never a person.
unsigned long ReadUidMin(const char* path);

// UID_MAX of the same file, the last uid of a person's account (above it:
// nobody, 65534, and other special accounts); kDefaultUidMax when missing.
constexpr unsigned long kDefaultUidMax = 60000;
unsigned long ReadUidMax(const char* path);

// How long the backend lets the job's writer (running as the job's owner)
// take before it ends it, so that a user who stops the writer cannot hold
// the queue: kDefaultTimeLimitSeconds, or value (whole seconds, 1 to 86400)
// with a relocated spool root (prefix as for SpoolRoot; tests, the demo).
constexpr const char* kTimeLimitVariable = "ORIX_BACKEND_TIME_LIMIT";
constexpr unsigned kDefaultTimeLimitSeconds = 600;
unsigned TimeLimitSeconds(const char* prefix, const char* value);

// Name of a finished job folder: UTC time stamp, then the job id padded to
// ten digits ("20260306-081500-0000000042"), so that folders sort by name in
// the order the jobs arrived.
std::string JobFolderName(std::time_t when, long jobId);

// Prefix of the hidden folders a job is built in before it is renamed into
// place. The client never looks at hidden entries.
constexpr const char* kTempPrefix = ".tavpdf-";

// The queue's defaults for the three choices, as read from its PPD file.
struct PpdDefaults {
    std::string pageSize = "A4";
    std::string duplex = "None";
    std::string colorModel = "Gray";
};

// Reads *DefaultPageSize, *DefaultDuplex and *DefaultColorModel from the PPD
// at path; a missing file, line or unknown value keeps the built-in default.
PpdDefaults ReadPpdDefaults(const char* path);

// The queue's choice names for a value given by the user, matched without
// regard to case; "" when the value names no choice of the queue.
// Page sizes: A3 A4 A5 B5 Letter Legal, from a PPD name ("a4"), a media name
// ("iso_a4_210x297mm", "iso-a4"), or a media list ("a4,tray1").
std::string PageSizeChoice(const std::string& value);
// Duplex: None DuplexNoTumble DuplexTumble, from a PPD name or from "sides"
// (one-sided, two-sided-long-edge, two-sided-short-edge).
std::string DuplexChoice(const std::string& value);
// ColorModel: RGB CMYK Gray, from a PPD name or from "print-color-mode"
// (color; monochrome, process-monochrome, bi-level, ...).
std::string ColorModelChoice(const std::string& value);

using Option = std::pair<std::string, std::string>;

// The options of one job as they are written to its "options" file: the
// job's own options (options, argv[5] of the backend) followed by what a
// reader needs and CUPS does not pass there: copies (argv[4]), title
// (argv[3]), PageSize, Duplex and ColorModel (the user's choice, else the
// queue's default) and job-impressions (pages of one copy times copies).
std::vector<Option> JobOptions(const char* title, const char* copies, const char* options,
                               const PpdDefaults& defaults, int pages);

// The copies argument as a number of at least 1.
int CopiesValue(const char* copies);

// name=value pairs separated by blanks, ended by a newline, such that
// cupsParseOptions gives back exactly the same names and values. Values
// with blanks, quotes, backslashes or braces are written in double quotes;
// control characters (line breaks among them) become blanks. Names that are
// not plain option names are left out.
std::string FormatOptions(const std::vector<Option>& options);

} // namespace JobSpool
