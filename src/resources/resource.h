// Resource identifiers of KVShake.dll, shared by KVShake.rc and the code.
#pragma once

#define IDS_PROJNAME 100
#define IDR_KVSHAKE 101
#define IDR_SHAKEBHO 102
#define IDI_SHAKE 214
