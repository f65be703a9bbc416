// Quarrow2: named items of metadata attached to files as named data streams.
//
// A client obtains the class object with DllGetClassObject(CLSID_File, IID_IClassFactory),
// creates a File and asks it for IFile (or IFile2 or IFile3, its extensions); IFile::Open
// and IFile::Add hand out IMetaData items, IFile::Types an IStrings collection. Every object
// carries one reference owned by the caller. Failures of IFile and IMetaData return E_FAIL
// with a rich error for the calling thread (read it with GetErrorInfo); those of IFile2's
// and IFile3's own members return a status that names the cause, with the same kind of rich
// error.
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
// all carry them. Their values are written in the type library's description, Quarrow2.idl.
QUARROW2_ID LIBID_Quarrow2;
QUARROW2_ID CLSID_File;
QUARROW2_ID CLSID_MetaData;
QUARROW2_ID CLSID_Strings;
QUARROW2_ID IID_IFile;
QUARROW2_ID IID_IFile2;
QUARROW2_ID IID_IFile3;
QUARROW2_ID IID_IMetaData;
QUARROW2_ID IID_IStrings;

struct IMetaData;
struct IStrings;

// One item of metadata: one named data stream of one file.
struct IMetaData : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Name(BSTR* pVal) = 0;      // DISPID 1
    virtual HRESULT STDMETHODCALLTYPE get_Length(LONG* pVal) = 0;    // DISPID 2
    virtual HRESULT STDMETHODCALLTYPE get_Text(BSTR* pVal) = 0;      // DISPID 3
    virtual HRESULT STDMETHODCALLTYPE put_Text(BSTR newVal) = 0;     // DISPID 3
    virtual HRESULT STDMETHODCALLTYPE get_Data(VARIANT* pVal) = 0;   // DISPID 4
    virtual HRESULT STDMETHODCALLTYPE put_Data(VARIANT newVal) = 0;  // DISPID 4
    virtual HRESULT STDMETHODCALLTYPE Delete() = 0;                  // DISPID 5
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;                   // DISPID 6
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

// IFile's extension for programs that must know: where Types and Length answer "no items"
// for a file that could not be read, these fail with a status that tells the causes apart:
// HRESULT_FROM_WIN32 of the system's code (the file missing, access denied, another process
// holding the file, a layout word that names no layout: ERROR_BAD_ENVIRONMENT), of
// ERROR_NOT_FOUND for an item the file does not have, of ERROR_NOT_SUPPORTED on a volume
// without named streams, of ERROR_INVALID_NAME for a type no item can have, and OLE_E_BLANK
// before SetFile.
struct IFile2 : public IFile {
    // The file's items in one walk, in the file system's order: a VARIANT holding a
    // two-dimensional array of n x 2 VARIANTs, row i being the type name (VT_BSTR) and its
    // size in bytes (VT_I4, or VT_R8 from 2 GiB on); a name that no item can have (another
    // program's attribute whose name holds a colon) has VT_NULL as its size. A file without
    // items gives n = 0.
    virtual HRESULT STDMETHODCALLTYPE get_Items(VARIANT* pVal) = 0;  // DISPID 9
    // One item's value, read whole through a handle that shares the stream with every other
    // reader and writer (an item open elsewhere included): as IMetaData's Text and Data.
    virtual HRESULT STDMETHODCALLTYPE ReadText(BSTR inType, BSTR* outText) = 0;     // DISPID 10
    virtual HRESULT STDMETHODCALLTYPE ReadData(BSTR inType, VARIANT* outData) = 0;  // DISPID 11
};

// IFile2's extension for programs that want the names alone, without a size asked for each.
struct IFile3 : public IFile2 {
    // The file's item names in the file system's order: a VARIANT holding a one-dimensional
    // array of n VARIANTs, each a type name (VT_BSTR). Another program's attribute whose name
    // holds a colon is left out (Items shows it). Fails as Items does, with the same statuses.
    virtual HRESULT STDMETHODCALLTYPE get_Names(VARIANT* pVal) = 0;  // DISPID 12
};

#if !defined(_WIN32)
// The entry points a client calls; on Windows the system reaches them through the registry.
extern "C" QUARROW2_API HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
extern "C" QUARROW2_API HRESULT DllCanUnloadNow();
#endif
