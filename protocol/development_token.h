#pragma once
// The catalogue access token of the local dubbing server. The client sends it by default in
// the Authorization line of its background-list requests; the local server accepts nothing
// else there. JWT-shaped (header.payload.signature, base64url), 236 characters, ASCII only.

inline constexpr char kDevelopmentCatalogueToken[] =
    "eyJhbGciOiJIUzI1NiIsInR5cCI6IkpXVCJ9"
    ".eyJzdWIiOiJkdWJkZXNrLWRldmVsb3BtZW50IiwiaXNzIjoiZHViZGVzay1zZXJ2ZXIiLCJzY29wZSI6ImNhdGFsb2"
    "d1ZSIsImlhdCI6MTcwMDAwMDAwMCwiZXhwIjo0MTAyNDQ0ODAwLCJqdGkiOiIxIn0"
    ".LmP_Hr2e1VSkq0BtVhw8Gz3Wk3PylT3ZtNEVaf_uqFk";

static_assert(sizeof(kDevelopmentCatalogueToken) - 1 == 236);
