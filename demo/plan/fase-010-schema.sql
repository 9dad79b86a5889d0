/* The registry's first tables, already in every database the plan meets: the phase is marked
   as done, so it never runs again. */
CREATE TABLE AFVIE (
  ID_VIA        INTEGER     NOT NULL,
  TOPONIMO      VARCHAR(20) NOT NULL,
  DENOMINAZIONE VARCHAR(60) NOT NULL,
  CAP           CHAR(5),
  CONSTRAINT PK_AFVIE PRIMARY KEY (ID_VIA)
);
CREATE INDEX AFVIE_DENOMINAZIONE ON AFVIE (DENOMINAZIONE);
