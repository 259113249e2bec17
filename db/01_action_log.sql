-- The operator action log and the procedure the terminal writes it with.

CREATE TABLE stm_ActionLog (
    Id         serial PRIMARY KEY,
    Registered timestamp NOT NULL DEFAULT now(),
    Code       integer,
    ActionName text,
    ActionText text
);

CREATE FUNCTION stm_spLogActionRegister(Code integer, ActionName text, ActionText text)
RETURNS void LANGUAGE plpgsql AS $$
BEGIN
    INSERT INTO stm_ActionLog (Code, ActionName, ActionText)
    VALUES (Code, ActionName, ActionText);
END $$;
