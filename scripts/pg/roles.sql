-- The roles the diary's schema expects and its database, made by a superuser before
-- `dayvault-admin init` applies the schema as dayvault_owner. psql variables: dbname, and
-- owner_password (best a SCRAM verifier: the server keeps it as given and never sees the
-- password). What exists already is kept and said so; the owner's password is set again.
\set ON_ERROR_STOP on
SET client_min_messages = warning;

SELECT count(*) > 0 AS some_kept, string_agg(rolname, ', ' ORDER BY rolname) AS kept
  FROM pg_roles WHERE rolname IN ('dayvault_owner', 'dayvault_guest', 'dayvault_users', 'dayvault_admins')
\gset
\if :some_kept
\echo roles already there, kept: :kept
\endif
-- The guest's password is public: it may only read the public records and register.
SELECT format('%s ROLE %I %s', CASE WHEN r.oid IS NULL THEN 'CREATE' ELSE 'ALTER' END,
              v.name, v.options)
  FROM (VALUES ('dayvault_owner', 'LOGIN CREATEROLE PASSWORD ' || quote_literal(:'owner_password')),
               ('dayvault_guest', 'LOGIN PASSWORD ''dayvault_guest'''),
               ('dayvault_users', 'NOLOGIN'),
               ('dayvault_admins', 'NOLOGIN')) AS v (name, options)
  LEFT JOIN pg_roles r ON r.rolname = v.name
\gexec
GRANT dayvault_users, dayvault_admins TO dayvault_owner WITH ADMIN OPTION;

SELECT NOT EXISTS (SELECT FROM pg_database WHERE datname = :'dbname') AS new_db \gset
\if :new_db
-- The C locale: citext then folds ASCII letters only, as the embedded engine's NOCASE does.
CREATE DATABASE :"dbname" OWNER dayvault_owner TEMPLATE template0 ENCODING 'UTF8' LOCALE 'C';
\else
SELECT pg_get_userbyid(datdba) = 'dayvault_owner' AND datcollate = 'C' AND datctype = 'C'
       AND pg_encoding_to_char(encoding) = 'UTF8' AS db_fits
  FROM pg_database WHERE datname = :'dbname' \gset
\if :db_fits
\echo database :dbname already there, kept
\else
DO $$ BEGIN
    RAISE EXCEPTION 'the database exists with another owner, encoding or locale';
END $$;
\endif
\endif
-- No TEMP and no CONNECT for strangers: temporary objects could shadow the schema's names.
REVOKE ALL ON DATABASE :"dbname" FROM PUBLIC;
GRANT CONNECT ON DATABASE :"dbname" TO dayvault_users, dayvault_guest;
