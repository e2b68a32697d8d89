#include "templates/template_session.h"

#include <exception>
#include <memory>
#include <string>

#include "db/driver.h"
#include "db/open_connection.h"
#include "templates/dataset_writer.h"
#include "text/error.h"

namespace morvex {

namespace {

// One database session of a step: the connection, the helper over it and
// the template, released in that reverse order on every path.
class TTemplateSession {
 public:
  TTemplateSession(const std::string& connectionString, bool oneTransaction, TXmlElement root,
                   TXmlElement parametersElement)
      : oneTransaction_(oneTransaction), tree_(root) {
    connection_ = OpenConnection(connectionString);
    if (!connection_) throw EMorvexError(std::string(kCannotConnect));
    helper_ = std::make_unique<TLSQLConnHelper>(*connection_);
    PrepareTemplate(tree_, parametersElement, *helper_);
  }

  // Releases everything without raising: a failure that is already on its
  // way out must not be replaced by a failure of the clean-up.
  ~TTemplateSession() {
    if (!helper_) return;
    CloseTemplate(tree_.Root(), true, *helper_);
    helper_.reset();
    try {
      if (oneTransaction_ && connection_->InTransaction()) connection_->Rollback();
    } catch (const std::exception&) {
      // The transaction dies with the connection anyway.
    }
    try {
      connection_->Close();
    } catch (const std::exception&) {
      // Nothing more can be done with a connection that will not close.
    }
  }

  TTemplateSession(const TTemplateSession&) = delete;
  TTemplateSession& operator=(const TTemplateSession&) = delete;

  TLSQLConnHelper& Helper() { return *helper_; }
  const TTemplateTree& Tree() const { return tree_; }

  // Runs `body` as the statements of `phase`, inside a transaction of its
  // own with one-transaction. The phase's datasets are closed before the
  // commit: nothing reads them afterwards, and a server cursor must not
  // outlive the transaction that opened it. A failure inside the
  // transaction, the commit's included, says after its message that none
  // of the phase was stored: the lines reported before it counted records
  // that the rollback took back.
  template <typename Body>
  void RunPhase(TPhase phase, Body&& body) {
    helper_->Phase = phase;
    if (!oneTransaction_) {
      body();
      CloseTemplate(tree_.Root(), false, *helper_);
      return;
    }
    connection_->BeginTransaction();
    helper_->PhaseTransaction = true;
    try {
      body();
      CloseTemplate(tree_.Root(), false, *helper_);
      if (connection_->InTransaction()) connection_->Commit();
    } catch (const EMorvexError& error) {
      helper_->PhaseTransaction = false;
      throw EMorvexError(std::string(error.what()) + "\n" + std::string(kPhaseRolledBack));
    }
    helper_->PhaseTransaction = false;
  }

  // The after-open phase, `main` as the main phase, then the before-close
  // phase.
  template <typename Main>
  void Run(const std::vector<std::string>& parameters, const ProgressSink& sink, Main&& main) {
    const TParameterValues list(&parameters);
    if (helper_->HasAfterOpen) {
      RunPhase(TPhase::AfterOpen,
               [&] { ExecuteTemplate(tree_.Root(), &list, nullptr, true, sink, *helper_); });
    }
    RunPhase(TPhase::Main, main);
    if (helper_->HasBeforeClose) {
      RunPhase(TPhase::BeforeClose,
               [&] { ExecuteTemplate(tree_.Root(), &list, nullptr, true, sink, *helper_); });
    }
  }

  // Ends the session normally; a failure to close the connection is reported.
  void Finish() {
    CloseTemplate(tree_.Root(), true, *helper_);
    helper_.reset();
    std::unique_ptr<TDbConnection> connection = std::move(connection_);
    if (oneTransaction_ && connection->InTransaction()) connection->Rollback();
    connection->Close();
  }

 private:
  bool oneTransaction_;
  TTemplateTree tree_;
  std::unique_ptr<TDbConnection> connection_;
  std::unique_ptr<TLSQLConnHelper> helper_;
};

}  // namespace

void RunQueryTemplate(const std::string& connectionString, bool oneTransaction,
                      TQueryOutputKind writes, const TXTransformInfo& transform,
                      const ProgressSink& sink, TStream& output, TXmlElement parametersElement,
                      const std::vector<std::string>& parameters, TXmlElement root) {
  TTemplateSession session(connectionString, oneTransaction, root, parametersElement);
  TLSQLConnHelper& helper = session.Helper();
  session.Run(parameters, sink, [&] {
    switch (writes) {
      case TQueryOutputKind::None: {
        const TParameterValues list(&parameters);
        const int64_t total =
            ExecuteTemplate(session.Tree().Root(), &list, nullptr, true, sink, helper);
        if (sink && total > 0) sink(std::to_string(total) + " record(s) affected.");
        break;
      }
      case TQueryOutputKind::Csv:
        WriteDatasetCsv(session.Tree(), parameters, output, transform, sink, helper);
        break;
      case TQueryOutputKind::DatasetXml:
        WriteDatasetXml(session.Tree(), output, parameters, transform, sink, helper);
        break;
    }
  });
  session.Finish();
}

void RunImportSession(const std::string& connectionString, bool oneTransaction,
                      const ProgressSink& sink, TXmlElement parametersElement,
                      const std::vector<std::string>& parameters, TXmlElement root,
                      const TTemplateImporter& importer) {
  if (!importer) throw EMorvexError("Import into a database was started without an importer.");
  TTemplateSession session(connectionString, oneTransaction, root, parametersElement);
  TLSQLConnHelper& helper = session.Helper();
  session.Run(parameters, sink, [&] { importer(helper, session.Tree()); });
  session.Finish();
}

}  // namespace morvex
