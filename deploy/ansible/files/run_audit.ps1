# One remote step of the fleet audit on a Windows host: runs NorvaAudit.exe
# in the folder $env:NORVA_FOLDER with nothing on its standard input and
# writes its exit code, output and every file the run left beside it (its
# fault reports) as lines of base64, "rc N", "stdout B64", "stderr B64",
# "report NAME-B64 CONTENT-B64", as the Linux step does. The folder is
# removed on every way out.
$ErrorActionPreference = 'Stop'
$folder = $env:NORVA_FOLDER
function ConvertTo-Base64([byte[]] $bytes) { [System.Convert]::ToBase64String($bytes) }
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
    $errorCopy = $process.StandardError.BaseStream.CopyToAsync($errors)
    $process.StandardOutput.BaseStream.CopyTo($output)
    $errorCopy.Wait()
    $process.WaitForExit()
    "rc $($process.ExitCode)"
    "stdout $(ConvertTo-Base64 $output.ToArray())"
    "stderr $(ConvertTo-Base64 $errors.ToArray())"
    Get-ChildItem -LiteralPath $folder -File -Force | Where-Object { $_.Name -ne 'NorvaAudit.exe' } | ForEach-Object {
        $name = ConvertTo-Base64 ([System.Text.Encoding]::UTF8.GetBytes($_.Name))
        "report $name $(ConvertTo-Base64 ([System.IO.File]::ReadAllBytes($_.FullName)))"
    }
}
finally {
    Remove-Item -LiteralPath $folder -Recurse -Force -ErrorAction SilentlyContinue
}
