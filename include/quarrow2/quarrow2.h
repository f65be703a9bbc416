// Quarrow2: named items of metadata attached to files as named data streams.
//
// A client obtains the class object with DllGetClassObject(CLSID_File, IID_IClassFactory),
// creates a File and asks it for IFile; IFile::Open and IFile::Add hand out IMetaData
// items, IFile::Types an IStrings collection. Every object carries one reference owned by
// the caller. Failures of IFile and IMetaData return E_FAIL with a rich error for the
// calling thread (read it with GetErrorInfo).
//
// The same interfaces, with the same layout, are served by Quarrow2.dll on Windows and by
// libquarrow2.so on Linux.
#pragma once

#include "quarrow2/automation.h"

#if defined(_WIN32)
#define QUARROW2_ID extern "C" const GUID
#else
#define QUARROW2_ID extern "C" QUARROW2_API const GUID
#endif

// The identifiers are fixed for good: the registry, the type library and compiled clients
// all carry them.
QUARROW2_ID LIBID_Quarrow2;  // {80ABC801-2A25-4A88-9AAF-5B89790248DB}
QUARROW2_ID CLSID_File;      // {A89DAC1F-6D90-4460-90D4-B50DA2C488F8}
QUARROW2_ID CLSID_MetaData;  // {8DC736BC-D6E2-4F9E-8731-78559DB35411}
QUARROW2_ID CLSID_Strings;   // {71C1BDF9-FEE8-4784-B45D-6E5E2D66C430}
QUARROW2_ID IID_IFile;       // {A53C8434-138A-47A3-8D97-CAEDF4569123}
QUARROW2_ID IID_IMetaData;   // {E08F2318-2FB2-44FF-B85D-8BA90EABC765}
QUARROW2_ID IID_IStrings;    // {1DFD9E14-C102-4EDB-A134-041B95DFFAD5}

struct IMetaData;
struct IStrings;

// One item of metadata: one named data stream of one file.
struct IMetaData : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Name(BSTR* pVal) = 0;                // DISPID 1
    virtual HRESULT STDMETHODCALLTYPE get_Length(LONG* pVal) = 0;              // DISPID 2
    virtual HRESULT STDMETHODCALLTYPE get_Text(BSTR* pVal) = 0;                // DISPID 3
    virtual HRESULT STDMETHODCALLTYPE put_Text(BSTR newVal) = 0;               // DISPID 3
    virtual HRESULT STDMETHODCALLTYPE get_Data(VARIANT* pVal) = 0;             // DISPID 4
    virtual HRESULT STDMETHODCALLTYPE put_Data(VARIANT newVal) = 0;            // DISPID 4
    virtual HRESULT STDMETHODCALLTYPE Delete() = 0;                            // DISPID 5
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;                             // DISPID 6
};

// A read-only collection of strings, indexed from 1.
struct IStrings : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** pVal) = 0;        // DISPID -4
    virtual HRESULT STDMETHODCALLTYPE get_Item(LONG Index, VARIANT* pVal) = 0;  // DISPID 0
    virtual HRESULT STDMETHODCALLTYPE get_Count(LONG* pVal) = 0;                // DISPID 1
};

// A reference to one file by its path.
struct IFile : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE SetFile(BSTR inPath, VARIANT_BOOL* outSupportsStreams) = 0;
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
    virtual HRESULT STDMETHODCALLTYPE Open(BSTR inType, IMetaData** outMD) = 0;
    virtual HRESULT STDMETHODCALLTYPE Add(BSTR inType, IMetaData** outMD) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Supported(VARIANT_BOOL* outTruth) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Exists(VARIANT_BOOL* outTruth) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Length(LONG* pVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Types(IStrings** pVal) = 0;
};

#if !defined(_WIN32)
// The entry points a client calls; on Windows the system reaches them through the registry.
extern "C" QUARROW2_API HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
extern "C" QUARROW2_API HRESULT DllCanUnloadNow();
#endif
