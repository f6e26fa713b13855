// The system's messages, named once: callers and scripts compare them byte for byte.
#pragma once

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
