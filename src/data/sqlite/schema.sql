-- The diary database. Applied once by `dayvault-admin init`; the application never creates it.
PRAGMA journal_mode = WAL;

CREATE TABLE JR_user (
    B_user     TEXT NOT NULL UNIQUE COLLATE NOCASE,
    B_password TEXT NOT NULL DEFAULT '',
    popedom    INTEGER NOT NULL DEFAULT 0 CHECK (popedom BETWEEN -32768 AND 32767)
);

CREATE TABLE JR_content (
    ID        INTEGER PRIMARY KEY AUTOINCREMENT,
    B_title   TEXT,
    B_weather TEXT,
    B_content TEXT,
    B_writer  TEXT COLLATE NOCASE,
    -- Local time as Y-M-D H:MM:SS, no leading zeros in the date: the date search relies on it.
    B_time    TEXT NOT NULL DEFAULT (
        CAST(strftime('%Y', 'now', 'localtime') AS INTEGER) || '-' ||
        CAST(strftime('%m', 'now', 'localtime') AS INTEGER) || '-' ||
        CAST(strftime('%d', 'now', 'localtime') AS INTEGER) || ' ' ||
        CAST(strftime('%H', 'now', 'localtime') AS INTEGER) ||
        strftime(':%M:%S', 'now', 'localtime'))
);

CREATE INDEX JR_content_writer ON JR_content (B_writer);

PRAGMA user_version = 1;
-- The key tables and the administrator key pair (version 2) are added by the same upgrade
-- that brings an older file up to date.
