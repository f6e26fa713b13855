// The system's messages, named once: callers and scripts compare them byte for byte.
#pragma once

#include <string>

namespace vo {

inline constexpr char kMsgStreamRead[] = "Stream read error";
inline constexpr char kMsgStreamWrite[] = "Stream write error";
inline constexpr char kMsgCannotOpen[] = "Cannot open file ";
inline constexpr char kMsgCannotCreate[] = "Cannot create file ";
inline constexpr char kMsgCouldNotCompress[] = "Could not compress data";
inline constexpr char kMsgRleDisabled[] = "RLE compression disabled in this build";
inline constexpr char kMsgCompressionDisabled[] = "Compression disabled in this program";
inline constexpr char kMsgBadDecodeTable[] = "Bad decode table in archive!";
inline constexpr char kMsgInvalidHeader[] = "Can't recognize compressed file header";
inline constexpr char kMsgArchiveType[] = "Archive type must be caMulti";
inline constexpr char kMsgUnrecognizedMethod[] = "Unrecognized compression method: ";
inline constexpr char kMsgUnrecognizedMethodTail[] = " in header";
inline constexpr char kMsgInvalidKey[] = "File locked -- valid key required";
inline constexpr char kMsgBadChecksum[] = "Bad checksum during expansion -- data may be invalid";
inline constexpr char kMsgDataEndsEarly[] =
    "Compressed data ends before the expanded size is reached";
inline constexpr char kMsgCancelled[] = "Expansion cancelled by the progress handler";

// The tool's words for a failed system call: what failed, the file as the user named it and
// the system's reason, as in "cannot write out.voa: No space left on device".
inline constexpr char kMsgOpenFailed[] = "cannot open ";
inline constexpr char kMsgCreateFailed[] = "cannot create ";
inline constexpr char kMsgReadFailed[] = "cannot read ";
inline constexpr char kMsgWriteFailed[] = "cannot write ";
inline constexpr char kMsgSetTimeFailed[] = "cannot set the modification time of ";
inline constexpr char kMsgReadFolderFailed[] = "cannot read the folder ";
inline constexpr char kMsgCreateFolderFailed[] = "cannot make the folder ";
inline constexpr char kMsgIsFolder[] = "it is a folder, not a file";
inline constexpr char kMsgNotAFile[] = "it is a device or a pipe, not a file";
inline constexpr char kMsgInUse[] = "another program holds it open";
inline constexpr char kMsgNoFormInCodePage[] = "no form in code page ";
inline constexpr char kMsgNoTemporaryName[] = "no fresh name for a temporary file beside it";

inline std::string FailureText(const char* what, const std::string& name,
                               const std::string& reason) {
  return what + name + ": " + reason;
}

// Reading archives in the tool, beyond what the component checks.
inline constexpr char kMsgStoredChecksum[] =
    "Stored entry: its byte sum differs from its checksum -- data may be invalid";
inline constexpr char kMsgExpandedSizeDiffers[] = "Entry expanded to ";

// Writing archives.
inline constexpr char kMsgInvalidEntryName[] = "Invalid entry name ";
inline constexpr char kMsgEntryTooLarge[] = "Entry of 2 GB or more cannot be archived: ";
inline constexpr char kMsgArchiveTooLarge[] =
    "Entries add up to 2 GB or more: too large for one archive";
inline constexpr char kMsgOnlyEmptyEntries[] =
    "Only empty entries: an archive cannot reach them without at least one entry of 1 byte or more";
inline constexpr char kMsgNoCompressor[] = "No compressor for method ";
inline constexpr char kMsgSourceChanged[] = "Source changed while it was being archived: ";
inline constexpr char kMsgDuplicateEntryName[] = "Entry names equal but for case: ";
inline constexpr char kMsgKeyNeedsCodec[] =
    "A key needs a compression method: stored entries would not be hidden";
inline constexpr char kMsgEntryNeedsCodec[] = "Entry must be compressed, but the method is NON: ";

}  // namespace vo
