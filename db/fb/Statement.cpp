#include "Statement.h"

namespace tarvolen::database::fb {

using namespace Firebird;

PreparedStatement::PreparedStatement(IAttachment* attachment, ITransaction* transaction,
                                     std::string_view sql, unsigned flags) {
    Status status;
    statement.reset(attachment->prepare(&status, transaction, static_cast<unsigned>(sql.size()),
                                        sql.data(), SQL_DIALECT_V6, flags));
    if ((flags & IStatement::PREPARE_PREFETCH_INPUT_PARAMETERS) != 0)
        in.reset(statement->getInputMetadata(&status));
    if ((flags & IStatement::PREPARE_PREFETCH_OUTPUT_PARAMETERS) != 0)
        out.reset(statement->getOutputMetadata(&status));
    if (in) inputs = describe(in.get());
    if (out) outputs = describe(out.get());
    if (in) inBuffer.assign(in->getMessageLength(&status), 0);
    if (out) outBuffer.assign(out->getMessageLength(&status), 0);
}

}  // namespace tarvolen::database::fb
