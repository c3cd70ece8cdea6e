// Registry keys sharehost reads (in the machine hive).
#pragma once

// "Installation Directory" (where QXSTATE.SAV lives), "QXNFSServerSpoolDir",
// and the subkeys UidMapping and GidMapping of the identity maps.
inline constexpr char kNfsClientKey[] = "SOFTWARE\\Corvane\\NFSClient\\CurrentVersion";
inline constexpr char kUidMappingKey[] = "SOFTWARE\\Corvane\\NFSClient\\CurrentVersion\\UidMapping";
inline constexpr char kGidMappingKey[] = "SOFTWARE\\Corvane\\NFSClient\\CurrentVersion\\GidMapping";
// Made before the logon process registers; it holds no values.
inline constexpr char kRpcTokenKey[] = "Software\\Corvane\\RPCToken";
