# The tests of the Windows build (scripts/build-windows), run under Wine: everything that needs
# no database. Left out, and run on Linux only: the cases that need libexpat (no Windows build
# of it in Debian) and those that simulate faults with POSIX processes, permissions and limits
# (FileIOTest, PlanLockTest, ClientDataSetTest's file-size limit, the tool tests that run a
# shell); os_tests holds their promises on both platforms, and SharedPlanFileTest runs on both
# with a process of os_test_child holding the plan. Plan editing and validation are
# tested through a fixture that makes a database, so they run on Linux only.

tarvolen_add_test(plan_tests
  SOURCES
    plan/FieldTypesTest.cpp
    plan/PackedDecimalTest.cpp
    plan/RowStoreTest.cpp
    plan/ChangeLogTest.cpp
    plan/XmlPacketTest.cpp
    plan/BinaryRoundTripTest.cpp
    plan/BinaryWriterTest.cpp
    plan/BinaryReaderTest.cpp
    plan/LayoutRuleTest.cpp
    plan/WideTextTest.cpp
    plan/XmlNamesTest.cpp
    plan/KeptBlobTest.cpp
    plan/AttributeTypesTest.cpp
    plan/HostilePacketTest.cpp
    plan/DecodeDiagnosticsTest.cpp
    plan/SharedPlanFileTest.cpp
  LIBS tarvolen_plan
  LABELS plan)
tarvolen_uses_os_child(plan_tests)

tarvolen_add_test(engine_tests
  SOURCES engine/VersioneTest.cpp engine/ScriptSplitterTest.cpp engine/PhaseDecisionTest.cpp
    engine/ImportValueTest.cpp engine/ImportColumnsTest.cpp engine/MarksJournalTest.cpp
    engine/BackupFilesTest.cpp engine/RunHistoryTest.cpp
  LIBS tarvolen_engine
  LABELS engine)

tarvolen_add_test(cli_tests
  SOURCES tools/ProgressLineTest.cpp tools/RunLogFileTest.cpp tools/PlanListFormatTest.cpp
    tools/CommandLineTest.cpp
  LIBS tarvolen_cli
  LABELS unit)

tarvolen_add_test(db_value_tests
  SOURCES db/ValueParsingTest.cpp
  LIBS tarvolen_db
  LABELS unit)

add_subdirectory(app)
