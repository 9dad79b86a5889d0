#pragma once
// QAbstractItemModelTester attached to a model for the life of the object: every rule of the
// item-model contract it finds broken is a test failure.

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QtGlobal>
#include <cstring>
#include <memory>

namespace tarvolen::testing {

class ModelChecker {
  public:
    explicit ModelChecker(QAbstractItemModel* model) {
        s_previous = qInstallMessageHandler(&ModelChecker::report);
        m_tester = std::make_unique<QAbstractItemModelTester>(
            model, QAbstractItemModelTester::FailureReportingMode::Warning);
    }
    ~ModelChecker() {
        m_tester.reset();
        qInstallMessageHandler(s_previous);
    }
    ModelChecker(const ModelChecker&) = delete;
    ModelChecker& operator=(const ModelChecker&) = delete;

  private:
    // The tester reports under its own category; everything else goes where it went before.
    static void report(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (type != QtDebugMsg && type != QtInfoMsg && context.category != nullptr &&
            std::strcmp(context.category, "qt.modeltest") == 0) {
            ADD_FAILURE() << "item model: " << text.toStdString();
            return;
        }
        if (s_previous != nullptr) s_previous(type, context, text);
    }

    static inline QtMessageHandler s_previous = nullptr;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

}  // namespace tarvolen::testing
