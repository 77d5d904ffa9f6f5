// The OPC Foundation's published custom interfaces that the COM transport and the simulated
// servers use: OPC Data Access 1.0a, 2.05a and 3.0, OPC Common 1.0 and the server enumerator
// (OPCEnum), with their identifiers, structures, enumerations, categories and constants, in
// the published method and field order.
#pragma once

#include "com/runtime/ComPlatform.h"
#include "com/runtime/PlatformObject.h"

#define VELQOR_OPC_IID(name, text) inline constexpr IID name = velqor::com::MakeIid(text)

// Component categories.
VELQOR_OPC_IID(CATID_OPCDAServer10, "63D5F430-CFE4-11D1-B2C8-0060083BA1FB");
VELQOR_OPC_IID(CATID_OPCDAServer20, "63D5F432-CFE4-11D1-B2C8-0060083BA1FB");
VELQOR_OPC_IID(CATID_OPCDAServer30, "CC603642-66D7-48F1-B69A-B625E73652D7");
VELQOR_OPC_IID(CATID_XMLDAServer10, "3098EDA4-A006-48B2-A27F-247453959408");
VELQOR_OPC_IID(CATID_OPCEventServer10, "58E13251-AC87-11D1-84D5-00608CB8A7E9");
VELQOR_OPC_IID(CATID_OPCBatchServer10, "A8080DA0-E23E-11D2-AFA7-00C04F539421");
VELQOR_OPC_IID(CATID_OPCBatchServer20, "843DE67B-B0C9-11D4-A0B7-000102A980B1");
VELQOR_OPC_IID(CATID_OPCDXServer10, "A0C85BB8-4161-4FD6-8655-BB584601C9E0");
VELQOR_OPC_IID(CATID_OPCHDAServer10, "7DE5B060-E089-11D2-A5E6-000086339399");

// Data Access 1.0a / 2.05a.
VELQOR_OPC_IID(IID_IOPCServer, "39C13A4D-011E-11D0-9675-0020AFD8ADB3");
VELQOR_OPC_IID(IID_IOPCServerPublicGroups, "39C13A4E-011E-11D0-9675-0020AFD8ADB3");
VELQOR_OPC_IID(IID_IOPCBrowseServerAddressSpace, "39C13A4F-011E-11D0-9675-0020AFD8ADB3");
VELQOR_OPC_IID(IID_IOPCGroupStateMgt, "39C13A50-011E-11D0-9675-0020AFD8ADB3");
VELQOR_OPC_IID(IID_IOPCPublicGroupStateMgt, "39C13A51-011E-11D0-9675-0020AFD8ADB3");
VELQOR_OPC_IID(IID_IOPCSyncIO, "39C13A52-011E-11D0-9675-0020AFD8ADB3");
VELQOR_OPC_IID(IID_IOPCAsyncIO, "39C13A53-011E-11D0-9675-0020AFD8ADB3");
VELQOR_OPC_IID(IID_IOPCItemMgt, "39C13A54-011E-11D0-9675-0020AFD8ADB3");
VELQOR_OPC_IID(IID_IEnumOPCItemAttributes, "39C13A55-011E-11D0-9675-0020AFD8ADB3");
VELQOR_OPC_IID(IID_IOPCDataCallback, "39C13A70-011E-11D0-9675-0020AFD8ADB3");
VELQOR_OPC_IID(IID_IOPCAsyncIO2, "39C13A71-011E-11D0-9675-0020AFD8ADB3");
VELQOR_OPC_IID(IID_IOPCItemProperties, "39C13A72-011E-11D0-9675-0020AFD8ADB3");
// Data Access 3.0.
VELQOR_OPC_IID(IID_IOPCItemDeadbandMgt, "5946DA93-8B39-4EC8-AB3D-AA73DF5BC86F");
VELQOR_OPC_IID(IID_IOPCItemSamplingMgt, "3E22D313-F08B-41A5-86C8-95E95CB49FFC");
VELQOR_OPC_IID(IID_IOPCBrowse, "39227004-A18F-4B57-8B0A-5235670F4468");
VELQOR_OPC_IID(IID_IOPCItemIO, "85C0B427-2893-4CBC-BD78-E5FC5146F08F");
VELQOR_OPC_IID(IID_IOPCSyncIO2, "730F5F0F-55B1-4C81-9E18-FF8A0904E1FA");
VELQOR_OPC_IID(IID_IOPCAsyncIO3, "0967B97B-36EF-423E-B6F8-6BFF1E40D39D");
VELQOR_OPC_IID(IID_IOPCGroupStateMgt2, "8E368666-D72E-4F78-87ED-647611C61C9F");
// OPC Common 1.0.
VELQOR_OPC_IID(IID_IOPCShutdown, "F31DFDE1-07B6-11D2-B2D8-0060083BA1FB");
VELQOR_OPC_IID(IID_IOPCCommon, "F31DFDE2-07B6-11D2-B2D8-0060083BA1FB");
// Server enumerator.
VELQOR_OPC_IID(IID_IOPCServerList, "13486D50-4821-11D2-A494-3CB306C10000");
VELQOR_OPC_IID(IID_IOPCEnumGUID, "55C382C8-21C7-4E88-96C1-BECFB1E3F483");
VELQOR_OPC_IID(IID_IOPCServerList2, "9DD0B56C-AD9E-43EE-8305-487F3188BF7A");
VELQOR_OPC_IID(CLSID_OpcServerList, "13486D51-4821-11D2-A494-3CB306C10000");

#undef VELQOR_OPC_IID

typedef DWORD OPCHANDLE;

enum OPCDATASOURCE { OPC_DS_CACHE = 1, OPC_DS_DEVICE = 2 };
enum OPCBROWSETYPE { OPC_BRANCH = 1, OPC_LEAF = 2, OPC_FLAT = 3 };
enum OPCNAMESPACETYPE { OPC_NS_HIERARCHIAL = 1, OPC_NS_FLAT = 2 };
enum OPCBROWSEDIRECTION { OPC_BROWSE_UP = 1, OPC_BROWSE_DOWN = 2, OPC_BROWSE_TO = 3 };
enum OPCEUTYPE { OPC_NOENUM = 0, OPC_ANALOG = 1, OPC_ENUMERATED = 2 };
enum OPCSERVERSTATE {
    OPC_STATUS_RUNNING = 1,
    OPC_STATUS_FAILED = 2,
    OPC_STATUS_NOCONFIG = 3,
    OPC_STATUS_SUSPENDED = 4,
    OPC_STATUS_TEST = 5,
    OPC_STATUS_COMM_FAULT = 6,
};
enum OPCENUMSCOPE {
    OPC_ENUM_PRIVATE_CONNECTIONS = 1,
    OPC_ENUM_PUBLIC_CONNECTIONS = 2,
    OPC_ENUM_ALL_CONNECTIONS = 3,
    OPC_ENUM_PRIVATE = 4,
    OPC_ENUM_PUBLIC = 5,
    OPC_ENUM_ALL = 6,
};
enum OPCBROWSEFILTER {
    OPC_BROWSE_FILTER_ALL = 1,
    OPC_BROWSE_FILTER_BRANCHES = 2,
    OPC_BROWSE_FILTER_ITEMS = 3,
};
static_assert(sizeof(OPCSERVERSTATE) == 4 && sizeof(OPCBROWSEFILTER) == 4,
              "enumerations travel as 32-bit values");

// Access rights and browse element flags.
inline constexpr DWORD OPC_READABLE = 1;
inline constexpr DWORD OPC_WRITEABLE = 2;
inline constexpr DWORD OPC_BROWSE_HASCHILDREN = 1;
inline constexpr DWORD OPC_BROWSE_ISITEM = 2;

// Quality word: status (bits 7-6), substatus (5-2), limit (1-0).
inline constexpr WORD OPC_QUALITY_MASK = 0xC0;
inline constexpr WORD OPC_STATUS_MASK = 0xFC;
inline constexpr WORD OPC_LIMIT_MASK = 0x03;
inline constexpr WORD OPC_QUALITY_BAD = 0x00;
inline constexpr WORD OPC_QUALITY_UNCERTAIN = 0x40;
inline constexpr WORD OPC_QUALITY_GOOD = 0xC0;
inline constexpr WORD OPC_QUALITY_CONFIG_ERROR = 0x04;
inline constexpr WORD OPC_QUALITY_NOT_CONNECTED = 0x08;
inline constexpr WORD OPC_QUALITY_DEVICE_FAILURE = 0x0C;
inline constexpr WORD OPC_QUALITY_SENSOR_FAILURE = 0x10;
inline constexpr WORD OPC_QUALITY_LAST_KNOWN = 0x14;
inline constexpr WORD OPC_QUALITY_COMM_FAILURE = 0x18;
inline constexpr WORD OPC_QUALITY_OUT_OF_SERVICE = 0x1C;
inline constexpr WORD OPC_QUALITY_WAITING_FOR_INITIAL_DATA = 0x20;
inline constexpr WORD OPC_QUALITY_LAST_USABLE = 0x44;
inline constexpr WORD OPC_QUALITY_SENSOR_CAL = 0x50;
inline constexpr WORD OPC_QUALITY_EGU_EXCEEDED = 0x54;
inline constexpr WORD OPC_QUALITY_SUB_NORMAL = 0x58;
inline constexpr WORD OPC_QUALITY_LOCAL_OVERRIDE = 0xD8;
inline constexpr WORD OPC_LIMIT_OK = 0x00;
inline constexpr WORD OPC_LIMIT_LOW = 0x01;
inline constexpr WORD OPC_LIMIT_HIGH = 0x02;
inline constexpr WORD OPC_LIMIT_CONST = 0x03;

// Item property identifiers and the descriptions of the fixed ones.
inline constexpr DWORD OPC_PROPERTY_DATATYPE = 1;
inline constexpr DWORD OPC_PROPERTY_VALUE = 2;
inline constexpr DWORD OPC_PROPERTY_QUALITY = 3;
inline constexpr DWORD OPC_PROPERTY_TIMESTAMP = 4;
inline constexpr DWORD OPC_PROPERTY_ACCESS_RIGHTS = 5;
inline constexpr DWORD OPC_PROPERTY_SCAN_RATE = 6;
inline constexpr DWORD OPC_PROPERTY_EU_TYPE = 7;
inline constexpr DWORD OPC_PROPERTY_EU_INFO = 8;
inline constexpr DWORD OPC_PROPERTY_EU_UNITS = 100;
inline constexpr DWORD OPC_PROPERTY_DESCRIPTION = 101;
inline constexpr DWORD OPC_PROPERTY_HIGH_EU = 102;
inline constexpr DWORD OPC_PROPERTY_LOW_EU = 103;
inline constexpr DWORD OPC_PROPERTY_HIGH_IR = 104;
inline constexpr DWORD OPC_PROPERTY_LOW_IR = 105;
inline constexpr DWORD OPC_PROPERTY_CLOSE_LABEL = 106;
inline constexpr DWORD OPC_PROPERTY_OPEN_LABEL = 107;
inline constexpr DWORD OPC_PROPERTY_TIMEZONE = 108;
inline constexpr DWORD OPC_PROPERTY_CONDITION_STATUS = 300;
inline constexpr DWORD OPC_PROPERTY_ALARM_QUICK_HELP = 301;
inline constexpr DWORD OPC_PROPERTY_ALARM_AREA_LIST = 302;
inline constexpr DWORD OPC_PROPERTY_PRIMARY_ALARM_AREA = 303;
inline constexpr DWORD OPC_PROPERTY_CONDITION_LOGIC = 304;
inline constexpr DWORD OPC_PROPERTY_LIMIT_EXCEEDED = 305;
inline constexpr DWORD OPC_PROPERTY_DEADBAND = 306;
inline constexpr DWORD OPC_PROPERTY_HIHI_LIMIT = 307;
inline constexpr DWORD OPC_PROPERTY_HI_LIMIT = 308;
inline constexpr DWORD OPC_PROPERTY_LO_LIMIT = 309;
inline constexpr DWORD OPC_PROPERTY_LOLO_LIMIT = 310;
inline constexpr DWORD OPC_PROPERTY_CHANGE_RATE_LIMIT = 311;
inline constexpr DWORD OPC_PROPERTY_SOUNDFILE = 313;
inline constexpr DWORD OPC_PROPERTY_TYPE_SYSTEM_ID = 600;
inline constexpr DWORD OPC_PROPERTY_DICTIONARY_ID = 601;
inline constexpr DWORD OPC_PROPERTY_TYPE_ID = 602;
inline constexpr DWORD OPC_PROPERTY_DICTIONARY = 603;
inline constexpr DWORD OPC_PROPERTY_TYPE_DESCRIPTION = 604;
inline constexpr DWORD OPC_PROPERTY_CONSISTENCY_WINDOW = 605;
inline constexpr DWORD OPC_PROPERTY_WRITE_BEHAVIOR = 606;
inline constexpr DWORD OPC_PROPERTY_UNCONVERTED_ITEM_ID = 607;
inline constexpr DWORD OPC_PROPERTY_UNFILTERED_ITEM_ID = 608;
inline constexpr DWORD OPC_PROPERTY_DATA_FILTER_VALUE = 609;
inline constexpr const OLECHAR* OPC_PROPERTY_DESC_DATATYPE = OLESTR("Item Canonical Data Type");
inline constexpr const OLECHAR* OPC_PROPERTY_DESC_VALUE = OLESTR("Item Value");
inline constexpr const OLECHAR* OPC_PROPERTY_DESC_QUALITY = OLESTR("Item Quality");
inline constexpr const OLECHAR* OPC_PROPERTY_DESC_TIMESTAMP = OLESTR("Item Timestamp");
inline constexpr const OLECHAR* OPC_PROPERTY_DESC_ACCESS_RIGHTS = OLESTR("Item Access Rights");
inline constexpr const OLECHAR* OPC_PROPERTY_DESC_SCAN_RATE = OLESTR("Server Scan Rate");
inline constexpr const OLECHAR* OPC_PROPERTY_DESC_EU_TYPE = OLESTR("Item EU Type");
inline constexpr const OLECHAR* OPC_PROPERTY_DESC_EU_INFO = OLESTR("Item EU Info");
inline constexpr const OLECHAR* OPC_PROPERTY_DESC_EU_UNITS = OLESTR("EU Units");
inline constexpr const OLECHAR* OPC_PROPERTY_DESC_DESCRIPTION = OLESTR("Item Description");
inline constexpr const OLECHAR* OPC_PROPERTY_DESC_HIGH_EU = OLESTR("High EU");
inline constexpr const OLECHAR* OPC_PROPERTY_DESC_LOW_EU = OLESTR("Low EU");
inline constexpr const OLECHAR* OPC_PROPERTY_DESC_HIGH_IR = OLESTR("High Instrument Range");
inline constexpr const OLECHAR* OPC_PROPERTY_DESC_LOW_IR = OLESTR("Low Instrument Range");
inline constexpr const OLECHAR* OPC_PROPERTY_DESC_CLOSE_LABEL = OLESTR("Contact Close Label");
inline constexpr const OLECHAR* OPC_PROPERTY_DESC_OPEN_LABEL = OLESTR("Contact Open Label");
inline constexpr const OLECHAR* OPC_PROPERTY_DESC_TIMEZONE = OLESTR("Item Timezone");

// Result codes of the OPC interfaces.
inline constexpr HRESULT OPC_E_INVALIDHANDLE = HRESULT(0xC0040001u);
inline constexpr HRESULT OPC_E_BADTYPE = HRESULT(0xC0040004u);
inline constexpr HRESULT OPC_E_PUBLIC = HRESULT(0xC0040005u);
inline constexpr HRESULT OPC_E_BADRIGHTS = HRESULT(0xC0040006u);
inline constexpr HRESULT OPC_E_UNKNOWNITEMID = HRESULT(0xC0040007u);
inline constexpr HRESULT OPC_E_INVALIDITEMID = HRESULT(0xC0040008u);
inline constexpr HRESULT OPC_E_INVALIDFILTER = HRESULT(0xC0040009u);
inline constexpr HRESULT OPC_E_UNKNOWNPATH = HRESULT(0xC004000Au);
inline constexpr HRESULT OPC_E_RANGE = HRESULT(0xC004000Bu);
inline constexpr HRESULT OPC_E_DUPLICATENAME = HRESULT(0xC004000Cu);
inline constexpr HRESULT OPC_S_UNSUPPORTEDRATE = HRESULT(0x0004000Du);
inline constexpr HRESULT OPC_S_CLAMP = HRESULT(0x0004000Eu);
inline constexpr HRESULT OPC_S_INUSE = HRESULT(0x0004000Fu);
inline constexpr HRESULT OPC_E_INVALIDCONFIGFILE = HRESULT(0xC0040010u);
inline constexpr HRESULT OPC_E_NOTFOUND = HRESULT(0xC0040011u);
inline constexpr HRESULT OPC_E_INVALID_PID = HRESULT(0xC0040203u);
inline constexpr HRESULT OPC_E_DEADBANDNOTSET = HRESULT(0xC0040400u);
inline constexpr HRESULT OPC_E_DEADBANDNOTSUPPORTED = HRESULT(0xC0040401u);
inline constexpr HRESULT OPC_E_NOBUFFERING = HRESULT(0xC0040402u);
inline constexpr HRESULT OPC_E_INVALIDCONTINUATIONPOINT = HRESULT(0xC0040403u);
inline constexpr HRESULT OPC_S_DATAQUEUEOVERFLOW = HRESULT(0x00040404u);
inline constexpr HRESULT OPC_E_RATENOTSET = HRESULT(0xC0040405u);
inline constexpr HRESULT OPC_E_NOTSUPPORTED = HRESULT(0xC0040406u);

// Structures. Sizes are those of the published layout; with 64-bit pointers and 24-byte
// VARIANTs the structures holding them grow as the static_asserts below state.
struct OPCGROUPHEADER {  // head of a DA 1.0 data stream
    DWORD dwSize;
    DWORD dwItemCount;
    OPCHANDLE hClientGroup;
    DWORD dwTransactionID;
    HRESULT hrStatus;
};

struct OPCITEMHEADER1 {  // item of an "OPCSTMFORMATDATATIME" stream
    OPCHANDLE hClient;
    DWORD dwValueOffset;
    WORD wQuality;
    WORD wReserved;
    FILETIME ftTimeStampItem;
};

struct OPCITEMHEADER2 {  // item of an "OPCSTMFORMATDATA" stream
    OPCHANDLE hClient;
    DWORD dwValueOffset;
    WORD wQuality;
    WORD wReserved;
};

struct OPCGROUPHEADERWRITE {  // head of an "OPCSTMFORMATWRITECOMPLETE" stream
    DWORD dwItemCount;
    OPCHANDLE hClientGroup;
    DWORD dwTransactionID;
    HRESULT hrStatus;
};

struct OPCITEMHEADERWRITE {
    OPCHANDLE hClient;
    HRESULT dwError;
};

struct OPCITEMSTATE {
    OPCHANDLE hClient;
    FILETIME ftTimeStamp;
    WORD wQuality;
    WORD wReserved;
    VARIANT vDataValue;
};

struct OPCSERVERSTATUS {
    FILETIME ftStartTime;
    FILETIME ftCurrentTime;
    FILETIME ftLastUpdateTime;
    OPCSERVERSTATE dwServerState;
    DWORD dwGroupCount;
    DWORD dwBandWidth;
    WORD wMajorVersion;
    WORD wMinorVersion;
    WORD wBuildNumber;
    WORD wReserved;
    LPWSTR szVendorInfo;
};

struct OPCITEMDEF {
    LPWSTR szAccessPath;
    LPWSTR szItemID;
    BOOL bActive;
    OPCHANDLE hClient;
    DWORD dwBlobSize;
    BYTE* pBlob;
    VARTYPE vtRequestedDataType;
    WORD wReserved;
};

struct OPCITEMATTRIBUTES {
    LPWSTR szAccessPath;
    LPWSTR szItemID;
    BOOL bActive;
    OPCHANDLE hClient;
    OPCHANDLE hServer;
    DWORD dwAccessRights;
    DWORD dwBlobSize;
    BYTE* pBlob;
    VARTYPE vtRequestedDataType;
    VARTYPE vtCanonicalDataType;
    OPCEUTYPE dwEUType;
    VARIANT vEUInfo;
};

struct OPCITEMRESULT {
    OPCHANDLE hServer;
    VARTYPE vtCanonicalDataType;
    WORD wReserved;
    DWORD dwAccessRights;
    DWORD dwBlobSize;
    BYTE* pBlob;
};

struct OPCITEMPROPERTY {
    VARTYPE vtDataType;
    WORD wReserved;
    DWORD dwPropertyID;
    LPWSTR szItemID;
    LPWSTR szDescription;
    VARIANT vValue;
    HRESULT hrErrorID;
    DWORD dwReserved;
};

struct OPCITEMPROPERTIES {
    HRESULT hrErrorID;
    DWORD dwNumProperties;
    OPCITEMPROPERTY* pItemProperties;
    DWORD dwReserved;
};

struct OPCBROWSEELEMENT {
    LPWSTR szName;
    LPWSTR szItemID;
    DWORD dwFlagValue;
    DWORD dwReserved;
    OPCITEMPROPERTIES ItemProperties;
};

struct OPCITEMVQT {
    VARIANT vDataValue;
    BOOL bQualitySpecified;
    WORD wQuality;
    WORD wReserved;
    BOOL bTimeStampSpecified;
    DWORD dwReserved;
    FILETIME ftTimeStamp;
};

static_assert(sizeof(OPCGROUPHEADER) == 20 && sizeof(OPCITEMHEADER1) == 20 &&
              sizeof(OPCITEMHEADER2) == 12 && sizeof(OPCGROUPHEADERWRITE) == 16 &&
              sizeof(OPCITEMHEADERWRITE) == 8);
// 32-bit: status 48 bytes, property 40, item state 32, item definition 28, result 20.
static_assert(sizeof(void*) != 4 ||
              (sizeof(OPCSERVERSTATUS) == 48 && sizeof(OPCITEMPROPERTY) == 40 &&
               sizeof(OPCITEMDEF) == 28 && sizeof(OPCITEMRESULT) == 20 &&
               sizeof(OPCITEMPROPERTIES) == 16 && sizeof(OPCBROWSEELEMENT) == 32));
// 64-bit: the vendor pointer moves to offset 48 (status 56 bytes), a property holds two
// pointers and a 24-byte VARIANT (56), an item state 40, a definition 48, a result 24,
// item attributes 80.
static_assert(sizeof(void*) != 8 ||
              (sizeof(OPCSERVERSTATUS) == 56 && sizeof(OPCITEMPROPERTY) == 56 &&
               sizeof(OPCITEMSTATE) == 40 && sizeof(OPCITEMDEF) == 48 &&
               sizeof(OPCITEMRESULT) == 24 && sizeof(OPCITEMPROPERTIES) == 24 &&
               sizeof(OPCBROWSEELEMENT) == 48 && sizeof(OPCITEMVQT) == 48 &&
               sizeof(OPCITEMATTRIBUTES) == 80));

// Interfaces, in the published method order. Interfaces are released, never deleted.
#define VELQOR_OPC_INTERFACE_END(name) \
  protected:                           \
    ~name() = default

struct IOPCServer : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE AddGroup(LPCWSTR szName, BOOL bActive,
                                               DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                                               LONG* pTimeBias, FLOAT* pPercentDeadband,
                                               DWORD dwLCID, OPCHANDLE* phServerGroup,
                                               DWORD* pRevisedUpdateRate, REFIID riid,
                                               LPUNKNOWN* ppUnk) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LCID dwLocale,
                                                     LPWSTR* ppString) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetGroupByName(LPCWSTR szName, REFIID riid,
                                                     LPUNKNOWN* ppUnk) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStatus(OPCSERVERSTATUS** ppServerStatus) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid,
                                                            LPUNKNOWN* ppUnk) = 0;
    VELQOR_OPC_INTERFACE_END(IOPCServer);
};

struct IOPCServerPublicGroups : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetPublicGroupByName(LPCWSTR szName, REFIID riid,
                                                           LPUNKNOWN* ppUnk) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemovePublicGroup(OPCHANDLE hServerGroup, BOOL bForce) = 0;
    VELQOR_OPC_INTERFACE_END(IOPCServerPublicGroups);
};

struct IOPCBrowseServerAddressSpace : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) = 0;
    virtual HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection,
                                                           LPCWSTR szString) = 0;
    virtual HRESULT STDMETHODCALLTYPE BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType,
                                                       LPCWSTR szFilterCriteria,
                                                       VARTYPE vtDataTypeFilter,
                                                       DWORD dwAccessRightsFilter,
                                                       IEnumString** ppIEnumString) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) = 0;
    virtual HRESULT STDMETHODCALLTYPE BrowseAccessPaths(LPCWSTR szItemID,
                                                        IEnumString** ppIEnumString) = 0;
    VELQOR_OPC_INTERFACE_END(IOPCBrowseServerAddressSpace);
};

struct IOPCGroupStateMgt : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName,
                                               LONG* pTimeBias, FLOAT* pPercentDeadband,
                                               DWORD* pLCID, OPCHANDLE* phClientGroup,
                                               OPCHANDLE* phServerGroup) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetState(DWORD* pRequestedUpdateRate,
                                               DWORD* pRevisedUpdateRate, BOOL* pActive,
                                               LONG* pTimeBias, FLOAT* pPercentDeadband,
                                               DWORD* pLCID, OPCHANDLE* phClientGroup) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetName(LPCWSTR szName) = 0;
    virtual HRESULT STDMETHODCALLTYPE CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) = 0;
    VELQOR_OPC_INTERFACE_END(IOPCGroupStateMgt);
};

struct IOPCGroupStateMgt2 : IOPCGroupStateMgt {
    virtual HRESULT STDMETHODCALLTYPE SetKeepAlive(DWORD dwKeepAliveTime,
                                                   DWORD* pdwRevisedKeepAliveTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetKeepAlive(DWORD* pdwKeepAliveTime) = 0;
    VELQOR_OPC_INTERFACE_END(IOPCGroupStateMgt2);
};

struct IOPCPublicGroupStateMgt : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetState(BOOL* pPublic) = 0;
    virtual HRESULT STDMETHODCALLTYPE MoveToPublic() = 0;
    VELQOR_OPC_INTERFACE_END(IOPCPublicGroupStateMgt);
};

struct IOPCSyncIO : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Read(OPCDATASOURCE dwSource, DWORD dwCount,
                                           OPCHANDLE* phServer, OPCITEMSTATE** ppItemValues,
                                           HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer,
                                            VARIANT* pItemValues, HRESULT** ppErrors) = 0;
    VELQOR_OPC_INTERFACE_END(IOPCSyncIO);
};

struct IOPCSyncIO2 : IOPCSyncIO {
    virtual HRESULT STDMETHODCALLTYPE ReadMaxAge(DWORD dwCount, OPCHANDLE* phServer,
                                                 DWORD* pdwMaxAge, VARIANT** ppvValues,
                                                 WORD** ppwQualities, FILETIME** ppftTimeStamps,
                                                 HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteVQT(DWORD dwCount, OPCHANDLE* phServer,
                                               OPCITEMVQT* pItemVQT, HRESULT** ppErrors) = 0;
    VELQOR_OPC_INTERFACE_END(IOPCSyncIO2);
};

// DA 1.0 asynchronous calls; results arrive as IDataObject streams.
struct IOPCAsyncIO : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Read(DWORD dwConnection, OPCDATASOURCE dwSource,
                                           DWORD dwCount, OPCHANDLE* phServer,
                                           DWORD* pTransactionID, HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer,
                                            VARIANT* pItemValues, DWORD* pTransactionID,
                                            HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE Refresh(DWORD dwConnection, OPCDATASOURCE dwSource,
                                              DWORD* pTransactionID) = 0;
    virtual HRESULT STDMETHODCALLTYPE Cancel(DWORD dwTransactionID) = 0;
    VELQOR_OPC_INTERFACE_END(IOPCAsyncIO);
};

struct IOPCItemMgt : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE AddItems(DWORD dwCount, OPCITEMDEF* pItemArray,
                                               OPCITEMRESULT** ppAddResults,
                                               HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray,
                                                    BOOL bBlobUpdate,
                                                    OPCITEMRESULT** ppValidationResults,
                                                    HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveItems(DWORD dwCount, OPCHANDLE* phServer,
                                                  HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetActiveState(DWORD dwCount, OPCHANDLE* phServer,
                                                     BOOL bActive, HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetClientHandles(DWORD dwCount, OPCHANDLE* phServer,
                                                       OPCHANDLE* phClient, HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDatatypes(DWORD dwCount, OPCHANDLE* phServer,
                                                   VARTYPE* pRequestedDatatypes,
                                                   HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) = 0;
    VELQOR_OPC_INTERFACE_END(IOPCItemMgt);
};

struct IEnumOPCItemAttributes : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray,
                                           ULONG* pceltFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) = 0;
    VELQOR_OPC_INTERFACE_END(IEnumOPCItemAttributes);
};

struct IOPCDataCallback : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnDataChange(DWORD dwTransid, OPCHANDLE hGroup,
                                                   HRESULT hrMasterquality, HRESULT hrMastererror,
                                                   DWORD dwCount, OPCHANDLE* phClientItems,
                                                   VARIANT* pvValues, WORD* pwQualities,
                                                   FILETIME* pftTimeStamps, HRESULT* pErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup,
                                                     HRESULT hrMasterquality, HRESULT hrMastererror,
                                                     DWORD dwCount, OPCHANDLE* phClientItems,
                                                     VARIANT* pvValues, WORD* pwQualities,
                                                     FILETIME* pftTimeStamps, HRESULT* pErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup,
                                                      HRESULT hrMastererr, DWORD dwCount,
                                                      OPCHANDLE* pClienthandles,
                                                      HRESULT* pErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) = 0;
    VELQOR_OPC_INTERFACE_END(IOPCDataCallback);
};

struct IOPCAsyncIO2 : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Read(DWORD dwCount, OPCHANDLE* phServer,
                                           DWORD dwTransactionID, DWORD* pdwCancelID,
                                           HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer,
                                            VARIANT* pItemValues, DWORD dwTransactionID,
                                            DWORD* pdwCancelID, HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID,
                                               DWORD* pdwCancelID) = 0;
    virtual HRESULT STDMETHODCALLTYPE Cancel2(DWORD dwCancelID) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetEnable(BOOL bEnable) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetEnable(BOOL* pbEnable) = 0;
    VELQOR_OPC_INTERFACE_END(IOPCAsyncIO2);
};

struct IOPCAsyncIO3 : IOPCAsyncIO2 {
    virtual HRESULT STDMETHODCALLTYPE ReadMaxAge(DWORD dwCount, OPCHANDLE* phServer,
                                                 DWORD* pdwMaxAge, DWORD dwTransactionID,
                                                 DWORD* pdwCancelID, HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteVQT(DWORD dwCount, OPCHANDLE* phServer,
                                               OPCITEMVQT* pItemVQT, DWORD dwTransactionID,
                                               DWORD* pdwCancelID, HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE RefreshMaxAge(DWORD dwMaxAge, DWORD dwTransactionID,
                                                    DWORD* pdwCancelID) = 0;
    VELQOR_OPC_INTERFACE_END(IOPCAsyncIO3);
};

struct IOPCItemProperties : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount,
                                                               DWORD** ppPropertyIDs,
                                                               LPWSTR** ppDescriptions,
                                                               VARTYPE** ppvtDataTypes) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetItemProperties(LPWSTR szItemID, DWORD dwCount,
                                                        DWORD* pdwPropertyIDs, VARIANT** ppvData,
                                                        HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE LookupItemIDs(LPWSTR szItemID, DWORD dwCount,
                                                    DWORD* pdwPropertyIDs, LPWSTR** ppszNewItemIDs,
                                                    HRESULT** ppErrors) = 0;
    VELQOR_OPC_INTERFACE_END(IOPCItemProperties);
};

struct IOPCItemDeadbandMgt : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetItemDeadband(DWORD dwCount, OPCHANDLE* phServer,
                                                      FLOAT* pPercentDeadband,
                                                      HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetItemDeadband(DWORD dwCount, OPCHANDLE* phServer,
                                                      FLOAT** ppPercentDeadband,
                                                      HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE ClearItemDeadband(DWORD dwCount, OPCHANDLE* phServer,
                                                        HRESULT** ppErrors) = 0;
    VELQOR_OPC_INTERFACE_END(IOPCItemDeadbandMgt);
};

struct IOPCItemSamplingMgt : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetItemSamplingRate(DWORD dwCount, OPCHANDLE* phServer,
                                                          DWORD* pdwRequestedSamplingRate,
                                                          DWORD** ppdwRevisedSamplingRate,
                                                          HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetItemSamplingRate(DWORD dwCount, OPCHANDLE* phServer,
                                                          DWORD** ppdwSamplingRate,
                                                          HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE ClearItemSamplingRate(DWORD dwCount, OPCHANDLE* phServer,
                                                            HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetItemBufferEnable(DWORD dwCount, OPCHANDLE* phServer,
                                                          BOOL* pbEnable, HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetItemBufferEnable(DWORD dwCount, OPCHANDLE* phServer,
                                                          BOOL** ppbEnable, HRESULT** ppErrors) = 0;
    VELQOR_OPC_INTERFACE_END(IOPCItemSamplingMgt);
};

struct IOPCBrowse : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetProperties(DWORD dwItemCount, LPWSTR* pszItemIDs,
                                                    BOOL bReturnPropertyValues,
                                                    DWORD dwPropertyCount, DWORD* pdwPropertyIDs,
                                                    OPCITEMPROPERTIES** ppItemProperties) = 0;
    virtual HRESULT STDMETHODCALLTYPE Browse(LPWSTR szItemID, LPWSTR* pszContinuationPoint,
                                             DWORD dwMaxElementsReturned,
                                             OPCBROWSEFILTER dwBrowseFilter,
                                             LPWSTR szElementNameFilter, LPWSTR szVendorFilter,
                                             BOOL bReturnAllProperties, BOOL bReturnPropertyValues,
                                             DWORD dwPropertyCount, DWORD* pdwPropertyIDs,
                                             BOOL* pbMoreElements, DWORD* pdwCount,
                                             OPCBROWSEELEMENT** ppBrowseElements) = 0;
    VELQOR_OPC_INTERFACE_END(IOPCBrowse);
};

struct IOPCItemIO : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Read(DWORD dwCount, LPCWSTR* pszItemIDs, DWORD* pdwMaxAge,
                                           VARIANT** ppvValues, WORD** ppwQualities,
                                           FILETIME** ppftTimeStamps, HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteVQT(DWORD dwCount, LPCWSTR* pszItemIDs,
                                               OPCITEMVQT* pItemVQT, HRESULT** ppErrors) = 0;
    VELQOR_OPC_INTERFACE_END(IOPCItemIO);
};

struct IOPCShutdown : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR szReason) = 0;
    VELQOR_OPC_INTERFACE_END(IOPCShutdown);
};

struct IOPCCommon : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetLocaleID(LCID dwLcid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* pdwLcid) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LPWSTR* ppString) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR szName) = 0;
    VELQOR_OPC_INTERFACE_END(IOPCCommon);
};

struct IOPCServerList : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG cImplemented,
                                                              CATID rgcatidImpl[], ULONG cRequired,
                                                              CATID rgcatidReq[],
                                                              IEnumGUID** ppenumClsid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClassDetails(REFCLSID clsid, LPOLESTR* ppszProgID,
                                                      LPOLESTR* ppszUserType) = 0;
    virtual HRESULT STDMETHODCALLTYPE CLSIDFromProgID(LPCOLESTR szProgId, LPCLSID clsid) = 0;
    VELQOR_OPC_INTERFACE_END(IOPCServerList);
};

struct IOPCEnumGUID : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, GUID* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IOPCEnumGUID** ppenum) = 0;
    VELQOR_OPC_INTERFACE_END(IOPCEnumGUID);
};

struct IOPCServerList2 : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG cImplemented,
                                                              CATID rgcatidImpl[], ULONG cRequired,
                                                              CATID rgcatidReq[],
                                                              IOPCEnumGUID** ppenumClsid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClassDetails(REFCLSID clsid, LPOLESTR* ppszProgID,
                                                      LPOLESTR* ppszUserType,
                                                      LPOLESTR* ppszVerIndProgID) = 0;
    virtual HRESULT STDMETHODCALLTYPE CLSIDFromProgID(LPCOLESTR szProgId, LPCLSID clsid) = 0;
    VELQOR_OPC_INTERFACE_END(IOPCServerList2);
};

#undef VELQOR_OPC_INTERFACE_END

// Identifiers and bases for PlatformObject and QueryAs.
VELQOR_INTERFACE_TRAITS(IOPCServer, ::IUnknown, IID_IOPCServer);
VELQOR_INTERFACE_TRAITS(IOPCServerPublicGroups, ::IUnknown, IID_IOPCServerPublicGroups);
VELQOR_INTERFACE_TRAITS(IOPCBrowseServerAddressSpace, ::IUnknown, IID_IOPCBrowseServerAddressSpace);
VELQOR_INTERFACE_TRAITS(IOPCGroupStateMgt, ::IUnknown, IID_IOPCGroupStateMgt);
VELQOR_INTERFACE_TRAITS(IOPCGroupStateMgt2, IOPCGroupStateMgt, IID_IOPCGroupStateMgt2);
VELQOR_INTERFACE_TRAITS(IOPCPublicGroupStateMgt, ::IUnknown, IID_IOPCPublicGroupStateMgt);
VELQOR_INTERFACE_TRAITS(IOPCSyncIO, ::IUnknown, IID_IOPCSyncIO);
VELQOR_INTERFACE_TRAITS(IOPCSyncIO2, IOPCSyncIO, IID_IOPCSyncIO2);
VELQOR_INTERFACE_TRAITS(IOPCAsyncIO, ::IUnknown, IID_IOPCAsyncIO);
VELQOR_INTERFACE_TRAITS(IOPCItemMgt, ::IUnknown, IID_IOPCItemMgt);
VELQOR_INTERFACE_TRAITS(IEnumOPCItemAttributes, ::IUnknown, IID_IEnumOPCItemAttributes);
VELQOR_INTERFACE_TRAITS(IOPCDataCallback, ::IUnknown, IID_IOPCDataCallback);
VELQOR_INTERFACE_TRAITS(IOPCAsyncIO2, ::IUnknown, IID_IOPCAsyncIO2);
VELQOR_INTERFACE_TRAITS(IOPCAsyncIO3, IOPCAsyncIO2, IID_IOPCAsyncIO3);
VELQOR_INTERFACE_TRAITS(IOPCItemProperties, ::IUnknown, IID_IOPCItemProperties);
VELQOR_INTERFACE_TRAITS(IOPCItemDeadbandMgt, ::IUnknown, IID_IOPCItemDeadbandMgt);
VELQOR_INTERFACE_TRAITS(IOPCItemSamplingMgt, ::IUnknown, IID_IOPCItemSamplingMgt);
VELQOR_INTERFACE_TRAITS(IOPCBrowse, ::IUnknown, IID_IOPCBrowse);
VELQOR_INTERFACE_TRAITS(IOPCItemIO, ::IUnknown, IID_IOPCItemIO);
VELQOR_INTERFACE_TRAITS(IOPCShutdown, ::IUnknown, IID_IOPCShutdown);
VELQOR_INTERFACE_TRAITS(IOPCCommon, ::IUnknown, IID_IOPCCommon);
VELQOR_INTERFACE_TRAITS(IOPCServerList, ::IUnknown, IID_IOPCServerList);
VELQOR_INTERFACE_TRAITS(IOPCEnumGUID, ::IUnknown, IID_IOPCEnumGUID);
VELQOR_INTERFACE_TRAITS(IOPCServerList2, ::IUnknown, IID_IOPCServerList2);
