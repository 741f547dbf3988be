# One remote step of the fleet audit on a Windows host: runs NorvaAudit.exe
# in the folder $env:NORVA_FOLDER with nothing on its standard input, ends
# it after $env:NORVA_TIMEOUT seconds, and answers in the lines the Linux
# step writes: "rc N", "timeout N", "stdout SIZE B64", "stderr SIZE B64",
# "report NAME-B64 CONTENT-B64", "skipped NAME-B64 SIZE", keeping at most
# $env:NORVA_REPORT_LIMIT bytes of each output and of the reports together.
# The folder is removed on every way out.
$ErrorActionPreference = 'Stop'
$folder = $env:NORVA_FOLDER
$limit = [long]$env:NORVA_REPORT_LIMIT
$seconds = [int]$env:NORVA_TIMEOUT
function ConvertTo-Base64([byte[]] $bytes) { [System.Convert]::ToBase64String($bytes) }

# Reads a stream to its end, keeping its first $limit bytes and counting all.
$boundedCopy = {
    param($stream, $keep, $limit)
    $buffer = New-Object byte[] 65536
    $total = [long]0
    while (($read = $stream.Read($buffer, 0, $buffer.Length)) -gt 0) {
        $room = [Math]::Max([long]0, $limit - $keep.Length)
        if ($room -gt 0) { $keep.Write($buffer, 0, [int][Math]::Min([long]$read, $room)) }
        $total += $read
    }
    $total
}

try {
    $start = New-Object System.Diagnostics.ProcessStartInfo
    $start.FileName = Join-Path $folder 'NorvaAudit.exe'
    $start.WorkingDirectory = $folder
    $start.UseShellExecute = $false
    $start.CreateNoWindow = $true
    $start.RedirectStandardInput = $true
    $start.RedirectStandardOutput = $true
    $start.RedirectStandardError = $true
    $process = [System.Diagnostics.Process]::Start($start)
    $process.StandardInput.Close()
    $output = New-Object System.IO.MemoryStream
    $errors = New-Object System.IO.MemoryStream
    $outputCopy = [PowerShell]::Create().AddScript($boundedCopy).AddArgument($process.StandardOutput.BaseStream).AddArgument($output).AddArgument($limit)
    $errorCopy = [PowerShell]::Create().AddScript($boundedCopy).AddArgument($process.StandardError.BaseStream).AddArgument($errors).AddArgument($limit)
    $outputRun = $outputCopy.BeginInvoke()
    $errorRun = $errorCopy.BeginInvoke()
    if (-not $process.WaitForExit($seconds * 1000)) {
        # The program and every child it started.
        & taskkill.exe /T /F /PID $process.Id | Out-Null
        $process.WaitForExit()
        $timedOut = $true
    }
    $outputSize = $outputCopy.EndInvoke($outputRun)[0]
    $errorSize = $errorCopy.EndInvoke($errorRun)[0]
    "rc $($process.ExitCode)"
    if ($timedOut) { "timeout $seconds" }
    "stdout $outputSize $(ConvertTo-Base64 $output.ToArray())"
    "stderr $errorSize $(ConvertTo-Base64 $errors.ToArray())"
    $left = $limit
    Get-ChildItem -LiteralPath $folder -File -Force | Where-Object { $_.Name -ne 'NorvaAudit.exe' } | ForEach-Object {
        $name = ConvertTo-Base64 ([System.Text.Encoding]::UTF8.GetBytes($_.Name))
        if ($_.Length -le $left) {
            "report $name $(ConvertTo-Base64 ([System.IO.File]::ReadAllBytes($_.FullName)))"
            $left -= $_.Length
        }
        else {
            "skipped $name $($_.Length)"
        }
    }
}
finally {
    Remove-Item -LiteralPath $folder -Recurse -Force -ErrorAction SilentlyContinue
}
