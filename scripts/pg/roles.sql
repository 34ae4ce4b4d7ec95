-- The roles the diary's schema expects and its database, made by a superuser before
-- `dayvault-admin init` applies the schema as dayvault_owner. psql variables: dbname, and
-- owner_password (best a SCRAM verifier: the server keeps it as given and never sees the
-- password). Run on the database postgres; it connects to the diary's database for what
-- lives there. What exists already is kept and said so; the owner's password is set again.
\set ON_ERROR_STOP on
SET client_min_messages = warning;

SELECT count(*) > 0 AS some_kept, string_agg(rolname, ', ' ORDER BY rolname) AS kept
  FROM pg_roles WHERE rolname IN ('dayvault_owner', 'dayvault_guest', 'dayvault_users',
                                  'dayvault_admins', 'dayvault_roles')
\gset
\if :some_kept
\echo roles already there, kept: :kept
\endif
-- No role the diary logs in as may make roles: here CREATEROLE grants any role but a
-- superuser, pg_execute_server_program among them. The users' roles are made by the functions
-- of dayvault_roles, which logs in nowhere. The guest's password is public: it may only read
-- the public records and register, from a few sessions at once.
SELECT format('%s ROLE %I %s', CASE WHEN r.oid IS NULL THEN 'CREATE' ELSE 'ALTER' END,
              v.name, v.options)
  FROM (VALUES ('dayvault_owner', 'LOGIN NOCREATEROLE PASSWORD ' || quote_literal(:'owner_password')),
               ('dayvault_guest', 'LOGIN CONNECTION LIMIT 16 PASSWORD ''dayvault_guest'''),
               ('dayvault_users', 'NOLOGIN'),
               ('dayvault_admins', 'NOLOGIN'),
               ('dayvault_roles', 'NOLOGIN CREATEROLE')) AS v (name, options)
  LEFT JOIN pg_roles r ON r.rolname = v.name
\gexec
GRANT dayvault_users, dayvault_admins TO dayvault_owner WITH ADMIN OPTION;
-- Users' roles made before they had a limit: a few sessions each, the rest for others.
SELECT format('ALTER ROLE %I CONNECTION LIMIT 8', r.rolname)
  FROM pg_roles r JOIN pg_auth_members m ON m.member = r.oid
 WHERE m.roleid = 'dayvault_users'::regrole AND r.rolname ~ '^dv_[0-9a-f]{32}$'
   AND r.rolconnlimit = -1
\gexec

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
-- Nothing waits without end, nor holds what others wait for. The admin tool's long jobs wait
-- longer for a lock, and are not cut off.
ALTER DATABASE :"dbname" SET idle_in_transaction_session_timeout = '60s';
ALTER DATABASE :"dbname" SET statement_timeout = '30s';
ALTER DATABASE :"dbname" SET lock_timeout = '5s';
ALTER DATABASE :"dbname" SET temp_file_limit = '256MB';
ALTER DATABASE :"dbname" SET client_connection_check_interval = '10s';
ALTER ROLE dayvault_owner IN DATABASE :"dbname" SET statement_timeout = 0;
ALTER ROLE dayvault_owner IN DATABASE :"dbname" SET lock_timeout = '30s';

\c :"dbname"
SET client_min_messages = warning;
-- Nothing the database's owner made in schema public is found by name in this session.
SET search_path = pg_catalog, pg_temp;
-- The owner of the database may make schemas: one of this name it made is not trusted.
SELECT EXISTS (SELECT FROM pg_namespace n JOIN pg_roles r ON r.oid = n.nspowner
                WHERE n.nspname = 'dayvault_roles' AND NOT r.rolsuper) AS foreign_schema \gset
\if :foreign_schema
DO $$ BEGIN
    RAISE EXCEPTION 'the schema dayvault_roles belongs to a role that is no superuser';
END $$;
\endif
-- Apart from public, so a dump of the diary's schema leaves it out.
CREATE SCHEMA IF NOT EXISTS dayvault_roles;
REVOKE ALL ON SCHEMA dayvault_roles FROM PUBLIC;
GRANT USAGE ON SCHEMA dayvault_roles TO dayvault_owner, dayvault_roles;

-- What both take: a diary user's role, the name as the schema's dv_role() makes it, and a whole
-- SCRAM verifier (anything else the server would hash as a password).
CREATE OR REPLACE FUNCTION dayvault_roles.check(p_role text, p_verifier text) RETURNS void
    LANGUAGE plpgsql
    SET search_path = pg_catalog, pg_temp
    AS $$
    BEGIN
        IF p_role IS NULL OR p_role !~ '^dv_[0-9a-f]{32}$' THEN
            RAISE EXCEPTION 'not the role of a diary user' USING ERRCODE = '22023';
        END IF;
        IF char_length(p_verifier) > 512 THEN
            RAISE EXCEPTION 'the verifier is too long' USING ERRCODE = '54000';
        END IF;
        IF p_verifier IS NULL OR p_verifier !~ '^SCRAM-SHA-256\$[0-9]+:[A-Za-z0-9+/]+=*\$[A-Za-z0-9+/]+=*:[A-Za-z0-9+/]+=*$' THEN
            RAISE EXCEPTION 'not a SCRAM verifier' USING ERRCODE = '22023';
        END IF;
    END
    $$;

CREATE OR REPLACE FUNCTION dayvault_roles.make_role(p_role text, p_verifier text) RETURNS void
    LANGUAGE plpgsql SECURITY DEFINER
    SET search_path = pg_catalog, pg_temp
    AS $$
    BEGIN
        PERFORM dayvault_roles.check(p_role, p_verifier);
        EXECUTE format('CREATE ROLE %I LOGIN PASSWORD %L CONNECTION LIMIT 8 IN ROLE dayvault_users',
                       p_role, p_verifier);
    END
    $$;

CREATE OR REPLACE FUNCTION dayvault_roles.set_password(p_role text, p_verifier text) RETURNS void
    LANGUAGE plpgsql SECURITY DEFINER
    SET search_path = pg_catalog, pg_temp
    AS $$
    BEGIN
        PERFORM dayvault_roles.check(p_role, p_verifier);
        IF NOT EXISTS (SELECT FROM pg_auth_members m JOIN pg_roles r ON r.oid = m.member
                        WHERE m.roleid = 'dayvault_users'::regrole AND r.rolname = p_role) THEN
            RAISE EXCEPTION 'not the role of a diary user' USING ERRCODE = '42501';
        END IF;
        EXECUTE format('ALTER ROLE %I PASSWORD %L', p_role, p_verifier);
    END
    $$;

ALTER FUNCTION dayvault_roles.make_role(text, text) OWNER TO dayvault_roles;
ALTER FUNCTION dayvault_roles.set_password(text, text) OWNER TO dayvault_roles;
ALTER FUNCTION dayvault_roles.check(text, text) OWNER TO dayvault_roles;
REVOKE ALL ON FUNCTION dayvault_roles.make_role(text, text),
    dayvault_roles.set_password(text, text), dayvault_roles.check(text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION dayvault_roles.make_role(text, text),
    dayvault_roles.set_password(text, text) TO dayvault_owner;

-- Large objects live outside every table and its policies, and a dump skips them.
REVOKE EXECUTE ON FUNCTION lo_creat(integer), lo_create(oid), lo_from_bytea(oid, bytea),
    lo_import(text), lo_import(text, oid) FROM PUBLIC;

-- A diary an earlier version made keeps no verifiers of its users' roles: taken from the roles
-- themselves, so that a backup can make them again. Whatever runs on the owner's tables runs
-- as the owner, never as this superuser.
SELECT to_regclass('public.jr_role') IS NOT NULL AS has_role_table \gset
\if :has_role_table
CREATE TEMP TABLE dv_verifiers AS
SELECT r.rolname::text AS role, a.rolpassword AS verifier
  FROM pg_auth_members m JOIN pg_roles r ON r.oid = m.member JOIN pg_authid a ON a.oid = r.oid
 WHERE m.roleid = 'dayvault_users'::regrole AND r.rolname ~ '^dv_[0-9a-f]{32}$'
   AND a.rolpassword LIKE 'SCRAM-SHA-256$%';
GRANT SELECT ON dv_verifiers TO dayvault_owner;
SET ROLE dayvault_owner;
INSERT INTO public.JR_role (B_user, verifier)
SELECT u.B_user, v.verifier FROM public.JR_user u JOIN dv_verifiers v ON v.role = public.dv_role(u.B_user::text)
    ON CONFLICT DO NOTHING;
RESET ROLE;
DROP TABLE dv_verifiers;
\endif
