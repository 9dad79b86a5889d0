/* For databases older than 0.9.8: the installation date appeared then. A database already
   past that version skips this phase. */
ALTER TABLE AFDATGEN ADD DATA_INSTALLAZIONE DATE;
UPDATE AFDATGEN SET DATA_INSTALLAZIONE = CURRENT_DATE;
