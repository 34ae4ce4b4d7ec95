#pragma once
namespace ado::sqlite {
// The text of schema.sql, compiled in.
extern const char* const kSchemaSql;
} // namespace ado::sqlite
