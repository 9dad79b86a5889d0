/* 1.2.0.0: residents of a street, for the counter's certificates. The procedure's body holds
   semicolons, so the terminator changes around it, as isql reads such scripts. */
SET TERM ^ ;

CREATE PROCEDURE CONTA_RESIDENTI (ID_VIA INTEGER)
RETURNS (RESIDENTI INTEGER)
AS
BEGIN
  SELECT COUNT(*)
    FROM AFINDIVIDUI I
    JOIN AFFAMIGLIE F ON F.ID_FAMIGLIA = I.ID_FAMIGLIA
   WHERE F.ID_VIA = :ID_VIA
    INTO :RESIDENTI;
  SUSPEND;
END^

SET TERM ; ^

GRANT EXECUTE ON PROCEDURE CONTA_RESIDENTI TO PUBLIC;
