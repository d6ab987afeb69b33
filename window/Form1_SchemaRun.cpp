// The input list's schema commands: "Start Checking" once more, with every file also checked
// against a schema chosen for the run, against the schemas each document names, or by the
// rules of a project configuration. Nothing is stored: the next plain "Start Checking" checks
// as before.

#include "FileList.h"
#include "Form1.h"
#include "RunMark.h"
#include "files/PathUtil.h"
#include "project/ProjectChecks.h"
#include "running/WorkerPool.h"
#include "schemas/SchemaCheck.h"

#include <QFileInfo>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

namespace {

// Restores the plain run when it goes.
class SchemasOfRun {
public:
    SchemasOfRun(std::shared_ptr<const SchemaSet>& slot, std::shared_ptr<const SchemaSet> schemas,
                 std::shared_ptr<const ProjectChecks>& projectSlot,
                 std::shared_ptr<const ProjectChecks> project)
        : slot_(slot), projectSlot_(projectSlot) {
        slot_ = std::move(schemas);
        projectSlot_ = std::move(project);
    }
    ~SchemasOfRun() {
        slot_.reset();
        projectSlot_.reset();
    }
    SchemasOfRun(const SchemasOfRun&) = delete;
    SchemasOfRun& operator=(const SchemasOfRun&) = delete;

private:
    std::shared_ptr<const SchemaSet>& slot_;
    std::shared_ptr<const ProjectChecks>& projectSlot_;
};

}  // namespace

void Form1::startCheckingWith(std::shared_ptr<const SchemaSet> schemas,
                              std::shared_ptr<const ProjectChecks> project) {
    const SchemasOfRun run(runSchemas_, std::move(schemas), runProject_, std::move(project));
    PushButton4_Click();
}

bool Form1::whileWorking(const std::function<void()>& work) {
    SetWindowPointer(WindowPointer::Busy);
    {
        // A compile takes seconds for a large schema, and ends within its time limit; a window
        // closed meanwhile waits for it before it goes.
        const RunMark mark(checkRunActive_);
        std::atomic<bool> done{false};
        WorkerThread worker(
            [&] {
                work();
                done = true;
            },
            WorkerStackBytes(1));
        while (!done.load() && PumpEvents())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (unloaded())
        return false;
    SetWindowPointer(WindowPointer::Default);
    return true;
}

void Form1::StartCheckingAgainstSchema() {
    if (checkRunActive_)
        return;  // as a click on "Start Checking" while a run waits in its event pump
    if (ListView1->count() == 0) {
        PushButton4_Click();  // says that there is nothing to check
        return;
    }
    const QStringList chosen = platform().openFileNames(
        this, QStringLiteral("Choose a schema"),
        {QStringLiteral("Schemas (*.xsd, *.rng)|*.xsd;*.rng"),
         QStringLiteral("XML Schema (*.xsd)|*.xsd"), QStringLiteral("RELAX NG (*.rng)|*.rng"),
         QStringLiteral("All Files (*.*)|*.*")});
    if (chosen.isEmpty())
        return;
    if (chosen.size() > 1) {
        platform().showMessage(this, QStringLiteral("Choose one schema to check against."),
                               ApplicationTitle, MessageButtons::Ok, MessageIcon::Exclamation);
        return;
    }
    const QString file = chosen.front();
    const SchemaLanguage language = file.endsWith(QStringLiteral(".rng"), Qt::CaseInsensitive)
                                        ? SchemaLanguage::RelaxNg
                                        : SchemaLanguage::XmlSchema;
    ParseErrorReport why;
    std::shared_ptr<const SchemaSet> schema;
    if (!whileWorking([&] {
            try {
                schema = SchemaSet::compile(language, file, &why);
            } catch (const std::exception& e) {
                why.reason = QString::fromUtf8(e.what());
            }
        }))
        return;
    if (!schema) {
        platform().showMessage(
            this,
            QStringLiteral("The schema %1 cannot be used:\n%2").arg(file, SchemaErrorText(why)),
            ApplicationTitle, MessageButtons::Ok, MessageIcon::Exclamation);
        return;
    }
    startCheckingWith(std::move(schema));
}

void Form1::StartCheckingWithOwnSchemas() {
    if (checkRunActive_)
        return;
    startCheckingWith(SchemaSet::documentHints());
}

void Form1::StartCheckingWithProjectSettings() {
    if (checkRunActive_)
        return;
    if (ListView1->count() == 0) {
        PushButton4_Click();
        return;
    }
    const QString firstFolder = QFileInfo(AbsolutePath(ListView1->text(1))).absolutePath();
    const QString nearest = FindProjectConfig(firstFolder);
    const QString file =
        platform().openFileName(this, QStringLiteral("Choose a project configuration"),
                                {QStringLiteral("Project configurations (*.toml)|*.toml"),
                                 QStringLiteral("All Files (*.*)|*.*")},
                                nearest.isEmpty() ? firstFolder : nearest);
    if (file.isEmpty())
        return;
    std::optional<ConfigError> error;
    std::shared_ptr<const ProjectChecks> project;
    if (!whileWorking([&] {
            try {
                auto read = ReadProjectConfig(file);
                if (auto* config = std::get_if<ProjectConfig>(&read)) {
                    auto prepared = ProjectChecks::prepare(std::move(*config));
                    if (auto* ready = std::get_if<std::shared_ptr<const ProjectChecks>>(&prepared))
                        project = std::move(*ready);
                    else
                        error = std::get<ConfigError>(prepared);
                } else {
                    error = std::get<ConfigError>(read);
                }
            } catch (const std::exception& e) {
                error = ConfigError{file, 0, QString::fromUtf8(e.what())};
            }
        }))
        return;
    if (!project) {
        platform().showMessage(this,
                               QStringLiteral("The project configuration %1 cannot be used:\n%2")
                                   .arg(file, error ? error->text() : QString()),
                               ApplicationTitle, MessageButtons::Ok, MessageIcon::Exclamation);
        return;
    }
    startCheckingWith(nullptr, std::move(project));
}
