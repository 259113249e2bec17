-- Procedures the database tests call; each stands for one kind of procedure
-- the terminal meets. Not needed by a working database.

-- A return value ahead of the inputs.
CREATE FUNCTION nuq_test_spReturnFirst(a integer, b text) RETURNS text
LANGUAGE sql AS $$ SELECT a::text || '|' || coalesce(b, '<null>') $$;

-- Inputs with defaults: values not given keep them.
CREATE FUNCTION nuq_test_spDefaults(a integer, b integer DEFAULT 7,
                                    c text DEFAULT 'по умолчанию')
RETURNS TABLE(ra integer, rb integer, rc text)
LANGUAGE sql AS $$ SELECT a, b, c $$;

-- Outputs between the inputs take no value; an input-output does.
CREATE FUNCTION nuq_test_spOutputs(a integer, OUT doubled integer, INOUT acc integer, c text,
                                   OUT echo text)
LANGUAGE plpgsql AS $$
BEGIN
    doubled := a * 2;
    acc := acc + a;
    echo := c;
END $$;

-- Result columns in every case.
CREATE FUNCTION nuq_test_spMixedCase()
RETURNS TABLE("StationName" text, "VALUE" integer, "Температура" double precision)
LANGUAGE sql AS $$ SELECT 'Котельная №3'::text, 42, 71.5::double precision $$;

-- Text both ways: the server counts characters, so a text spoilt on the way
-- shows in the counts as well as in the echo.
CREATE FUNCTION nuq_test_spEcho(t text)
RETURNS TABLE(echo text, chars integer, bytes integer, server_text text)
LANGUAGE sql AS $$
    SELECT t, char_length(t), octet_length(t), 'Котельная «Северная» — ёЁ №1'::text
$$;

-- Every kind of value the terminal passes, echoed, with the names of the
-- ones that arrived as null.
CREATE FUNCTION nuq_test_spTypes(i bigint, d double precision, b boolean, ts timestamp, t text)
RETURNS TABLE(ri bigint, rd double precision, rb boolean, rts timestamp, rt text, nulls text)
LANGUAGE sql AS $$
    SELECT i, d, b, ts, t,
           concat_ws(',', CASE WHEN i IS NULL THEN 'i' END, CASE WHEN d IS NULL THEN 'd' END,
                     CASE WHEN b IS NULL THEN 'b' END, CASE WHEN ts IS NULL THEN 'ts' END,
                     CASE WHEN t IS NULL THEN 't' END)
$$;

-- A result of Count rows, or none.
CREATE FUNCTION nuq_test_spRows(count integer) RETURNS TABLE(no integer, label text)
LANGUAGE sql AS $$ SELECT g, 'строка ' || g FROM generate_series(1, count) AS g $$;

-- A server error with a message of its own.
CREATE FUNCTION nuq_test_spFail(msg text) RETURNS void
LANGUAGE plpgsql AS $$ BEGIN RAISE EXCEPTION '%', msg; END $$;

-- Two procedures of one name: the parameter list cannot tell them apart.
CREATE FUNCTION nuq_test_spOverloaded(a integer) RETURNS integer LANGUAGE sql AS $$ SELECT a $$;
CREATE FUNCTION nuq_test_spOverloaded(a text) RETURNS text LANGUAGE sql AS $$ SELECT a $$;

-- A name kept in mixed case: it must be found as given and called quoted.
CREATE FUNCTION "nuq_test_spQuoted"(x integer) RETURNS integer
LANGUAGE sql AS $$ SELECT x * 3 $$;

-- Matches the catalogue pattern "nuq_test_sp_like" when "_" is a wildcard.
CREATE FUNCTION nuq_test_spXlike() RETURNS integer LANGUAGE sql AS $$ SELECT 1 $$;

-- For the lost-link test: the caller's server process, and ending another
-- one (waiting until it is gone).
CREATE FUNCTION nuq_test_spBackendPid() RETURNS integer
LANGUAGE sql AS $$ SELECT pg_backend_pid() $$;

CREATE FUNCTION nuq_test_spTerminate(pid integer) RETURNS boolean
LANGUAGE sql AS $$ SELECT pg_terminate_backend(pid, 5000) $$;

-- The action log as written, oldest first.
CREATE FUNCTION nuq_test_spActionLog()
RETURNS TABLE(Code integer, ActionName text, ActionText text)
LANGUAGE sql AS $$ SELECT Code, ActionName, ActionText FROM stm_ActionLog ORDER BY Id $$;

-- A procedure proper (not a function): run with CALL, it returns nothing but
-- its output parameters, and may commit. Records what it was given.
CREATE TABLE nuq_test_ProcCalls (Id serial PRIMARY KEY, A integer, B text);

CREATE PROCEDURE nuq_test_spProcedure(a integer, b text DEFAULT 'по умолчанию')
LANGUAGE plpgsql AS $$
BEGIN
    INSERT INTO nuq_test_ProcCalls (A, B) VALUES (a, b);
END $$;

-- A procedure's outputs come back as one row: an input-output takes a value,
-- an output does not.
CREATE PROCEDURE nuq_test_spProcOutputs(a integer, INOUT acc integer, OUT echo text)
LANGUAGE plpgsql AS $$
BEGIN
    acc := acc + a;
    echo := 'получено ' || a;
END $$;

CREATE FUNCTION nuq_test_spProcCalls()
RETURNS TABLE(a integer, b text)
LANGUAGE sql AS $$ SELECT A, B FROM nuq_test_ProcCalls ORDER BY Id $$;
