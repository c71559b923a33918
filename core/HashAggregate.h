// CHashAggregate: the SQL aggregate HASH(value, method).
//
// Digests the values of its rows, in row order, with md5, sha1 or sha256
// (method case-insensitive) and returns the raw digest as a BLOB. Each value is
// framed before it is digested, so different lists of values never give the
// same input: NULL is the single byte 'N'; any other value is 'V', its length
// as 8 bytes big-endian, then its bytes (a number counts as its text form).
// Zero rows give NULL, not the digest of empty input. An unknown method is an
// SQL error.
//
// Register one object per connection; it must outlive the connection. The
// object is used by the connection's thread only.
#pragma once

#include <openssl/types.h>
#include <wx/buffer.h>
#include <wx/wxsqlite3.h>

namespace KvoCore {

class CHashAggregate : public wxSQLite3AggregateFunction {
public:
    CHashAggregate();
    ~CHashAggregate() override;
    CHashAggregate(const CHashAggregate&) = delete;
    CHashAggregate& operator=(const CHashAggregate&) = delete;

    void Aggregate(wxSQLite3FunctionContext& ctx) override;
    void Finalize(wxSQLite3FunctionContext& ctx) override;

    // The digest for a method name (md5, sha1, sha256, any case), or null.
    const EVP_MD* DigestFor(const wxString& method) const;

private:
    enum { kMd5, kSha1, kSha256, kDigestCount };
    EVP_MD* m_digests[kDigestCount];
    wxMemoryBuffer m_value;  // reused for every row's value
};

}  // namespace KvoCore
