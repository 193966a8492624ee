// The error object every failure the engine detects is thrown as, the
// cancellation marker, and the location texts errors show.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace torquelin {

// Location texts users see in an error's "Location:" line. They name the
// parts of the engine as users have always known them, not our files.
namespace location {
inline constexpr const char* kRezeriravodu = ".\\rezeriravodu";
inline constexpr const char* kVault = ".\\vault";
inline constexpr const char* kFileio = ".\\fileio";
inline constexpr const char* kVudare = ".\\vudare";
inline constexpr const char* kXmlrep = ".\\xmlrep";
inline constexpr const char* kPatchReader = ".\\patchReader";
inline constexpr const char* kFileReader = ".\\fileReader";
}  // namespace location

// One place that raises an error (the table is engine/base/error_sites.h).
struct ErrorSite {
  int32_t type;
  const char* location;
  int32_t line;
  // The fixed start of the message; the raising code appends the rest.
  const char16_t* message;
};

// A reported failure. Thrown by value, caught by reference; only the job
// runner (and the named exceptions: Apply's tolerant mode, the vault reader)
// catches it.
class CZRErr {
 public:
  // code becomes lastError: the system's error code of the call whose failure
  // this reports, as that call gave it (platform/result.h); 0 when no system
  // call failed (a check refused something, the data was damaged).
  CZRErr(int32_t errorType, std::u16string text, const char* location, int32_t lineNumber,
         uint32_t code = 0);
  // The error of a site (origin), its message followed directly by detail.
  explicit CZRErr(const ErrorSite& origin, std::u16string_view detail = {}, uint32_t code = 0);

  // The four-line display text:
  //   "Error type:" type "\n" "Message: " message "\n"
  //   "Error Code: " hex(lastError) "\n" "Location: " file " line:" line "\n"
  std::u16string GetText() const;

  int32_t type;
  std::u16string message;
  const char* file;
  int32_t line;
  uint32_t lastError;
  // The site raised, when the error was built from one: lets a caller tell
  // one kind of failure from the rest by identity, never by its text.
  const ErrorSite* site = nullptr;
};

// Throws the error of a site, its message followed directly by detail, with
// `code`: that of the failed call it reports, 0 for a check.
[[noreturn]] void Raise(const ErrorSite& site, std::u16string_view detail = {}, uint32_t code = 0);

// Thrown by SetStatus, SetDetail and Step of a CProgressSink when the user
// has asked to cancel. Carries nothing.
class COPCancel {};

}  // namespace torquelin
