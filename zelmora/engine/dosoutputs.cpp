#include "engine/dosoutputs.h"

#include "engine/seams.h"

#include <QProcess>

namespace zm {

DOSOutputs::DOSOutputs(MessageBoxes *boxes, QObject *parent) : batch::ConverterProcess(parent), m_boxes(boxes)
{
    connect(this, &batch::ConverterProcess::output, this, &DOSOutputs::ReceiveOutputs);
    connect(this, &batch::ConverterProcess::finished, this, &DOSOutputs::CommandOver);
}

void DOSOutputs::setCommandLine(const QString &line)
{
    m_commandLine = line;
    m_arguments.clear();
}

void DOSOutputs::fail(const QString &text)
{
    if (m_boxes)
        m_boxes->show(MsgIcon::Error, QString::fromLatin1(kAppTitle), text);
}

bool DOSOutputs::ExecuteCommand(const QString &argument)
{
    if (!argument.isEmpty())
        setCommandLine(argument);
    if (m_commandLine.isEmpty() && m_arguments.isEmpty()) {
        fail(QStringLiteral("Command Line empty"));
        return false;
    }
    batch::ProcessRequest request;
    request.arguments = m_arguments.isEmpty() ? QProcess::splitCommand(m_commandLine) : m_arguments;
    request.stdoutTo = batch::Stream::Pipe;
    request.stderrTo = batch::Stream::Pipe; // one pipe for both
    request.environment = m_environment;
    if (start(request))
        return true;
    if (outcome().pipeFailed)
        fail(QStringLiteral("CreatePipe failed. Error: ") + QString::number(outcome().startError));
    else
        fail(QStringLiteral("File or command not found"));
    return false;
}

} // namespace zm
