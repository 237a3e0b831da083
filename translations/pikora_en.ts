<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>AboutSettingsTab</name>
    <message>
        <source>Pikora 图标</source>
        <translation>Pikora icon</translation>
    </message>
    <message>
        <source>软件更新</source>
        <translation>Software Update</translation>
    </message>
    <message>
        <source>启动应用时自动检查更新</source>
        <translation>Check for updates at startup</translation>
    </message>
    <message>
        <source>当前更新状态：</source>
        <translation>Update status:</translation>
    </message>
    <message>
        <source>项目支持</source>
        <translation>Project</translation>
    </message>
    <message>
        <source>Pikora官方网站</source>
        <translation>Pikora website</translation>
    </message>
    <message>
        <source>打开网页</source>
        <translation>Open Website</translation>
    </message>
    <message>
        <source>检查中…</source>
        <translation>Checking…</translation>
    </message>
    <message>
        <source>立即检查更新</source>
        <translation>Check Now</translation>
    </message>
    <message>
        <source>版本 %1（构建 %2）</source>
        <translation>Version %1 (build %2)</translation>
    </message>
</context>
<context>
    <name>AppActions</name>
    <message>
        <source>偏好设置</source>
        <translation>Preferences</translation>
    </message>
    <message>
        <source>选择照片</source>
        <translation>Choose Photos</translation>
    </message>
    <message>
        <source>选择照片…</source>
        <translation>Choose Photos…</translation>
    </message>
    <message>
        <source>选择文件夹</source>
        <translation>Choose Folder</translation>
    </message>
    <message>
        <source>选择文件夹…</source>
        <translation>Choose Folder…</translation>
    </message>
    <message>
        <source>清空列表 (Ctrl+K)</source>
        <translation>Clear List (Ctrl+K)</translation>
    </message>
    <message>
        <source>压缩照片</source>
        <translation>Compress</translation>
    </message>
    <message>
        <source>压缩照片
将 JPEG 无损转换为 JXL</source>
        <translation>Compress Photos
Turn JPEG into JXL without loss</translation>
    </message>
    <message>
        <source>还原照片</source>
        <translation>Restore</translation>
    </message>
    <message>
        <source>还原照片
将 JXL 精确还原为 JPEG</source>
        <translation>Restore Photos
Turn JXL back into the exact JPEG</translation>
    </message>
    <message>
        <source>储存空间概览</source>
        <translation>Storage Overview</translation>
    </message>
    <message numerus="yes">
        <source>重试 %n 项</source>
        <translation>
            <numerusform>Retry %n</numerusform>
            <numerusform>Retry %n</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>重新尝试 %n 个失败项目</source>
        <translation>
            <numerusform>Retry %n failed item</numerusform>
            <numerusform>Retry %n failed items</numerusform>
        </translation>
    </message>
    <message>
        <source>关于 Pikora(&amp;A)</source>
        <translation>&amp;About Pikora</translation>
    </message>
    <message>
        <source>检查更新(&amp;U)…</source>
        <translation>Check for &amp;Updates…</translation>
    </message>
    <message>
        <source>偏好设置(&amp;P)…</source>
        <translation>&amp;Preferences…</translation>
    </message>
    <message>
        <source>退出(&amp;Q)</source>
        <translation>&amp;Quit</translation>
    </message>
    <message>
        <source>导入照片(&amp;I)…</source>
        <translation>&amp;Import Photos…</translation>
    </message>
    <message>
        <source>导入文件夹(&amp;F)…</source>
        <translation>Import &amp;Folder…</translation>
    </message>
    <message>
        <source>清空列表(&amp;C)</source>
        <translation>&amp;Clear List</translation>
    </message>
    <message>
        <source>全选(&amp;A)</source>
        <translation>Select &amp;All</translation>
    </message>
    <message>
        <source>从列表中移除(&amp;R)</source>
        <translation>&amp;Remove from List</translation>
    </message>
    <message>
        <source>快速查看(&amp;Q)…</source>
        <translation>&amp;Quick View…</translation>
    </message>
    <message>
        <source>压缩照片模式(&amp;C)</source>
        <translation>&amp;Compress Mode</translation>
    </message>
    <message>
        <source>还原照片模式(&amp;R)</source>
        <translation>&amp;Restore Mode</translation>
    </message>
    <message>
        <source>储存空间概览(&amp;S)…</source>
        <translation>&amp;Storage Overview…</translation>
    </message>
    <message>
        <source>开始压缩(&amp;S)</source>
        <translation>&amp;Start</translation>
    </message>
    <message>
        <source>停止处理(&amp;T)</source>
        <translation>S&amp;top</translation>
    </message>
    <message>
        <source>重新尝试失败项目(&amp;R)</source>
        <translation>&amp;Retry Failed Items</translation>
    </message>
    <message>
        <source>还原照片(&amp;S)</source>
        <translation>Re&amp;store</translation>
    </message>
</context>
<context>
    <name>ArchiveCheck</name>
    <message>
        <source>可以还原，但没有记录原文件的校验值，无法证明还原结果就是原文件</source>
        <translation>restores, but no digest of the original was stored, so nothing proves the result is the original</translation>
    </message>
    <message>
        <source>JXL 已损坏：还原结果与记录的原文件校验值不符</source>
        <translation>JXL is damaged: what it restores does not match the stored digest of the original</translation>
    </message>
    <message>
        <source>JXL 已损坏：记录了原文件的校验值，却没有 JPEG 还原数据</source>
        <translation>JXL is damaged: it stores the digest of an original but has no JPEG reconstruction data</translation>
    </message>
    <message>
        <source>只含像素，没有 JPEG 还原数据：它从未保存过原 JPEG 的字节</source>
        <translation>pixels only, no JPEG reconstruction data: it never held the bytes of an original JPEG</translation>
    </message>
    <message>
        <source>JXL 已损坏：文件开头不是 JPEG XL 的标识</source>
        <translation>JXL is damaged: the file does not start with a JPEG XL signature</translation>
    </message>
    <message>
        <source>JXL 已损坏：文件不完整，在 JPEG 还原数据之前就已截断</source>
        <translation>JXL is damaged: the file is cut short before its JPEG reconstruction data</translation>
    </message>
    <message>
        <source>JXL 已损坏：djxl 无法还原它（%1）</source>
        <translation>JXL is damaged: djxl cannot restore it (%1)</translation>
    </message>
    <message>
        <source>JXL 已损坏：JPEG 还原数据无法使用，djxl 只能解码出像素</source>
        <translation>JXL is damaged: its JPEG reconstruction data is unusable, djxl can only decode pixels</translation>
    </message>
    <message>
        <source>JXL 已损坏：JPEG 还原数据无法使用，djxl 只能解码出像素（%1）</source>
        <translation>JXL is damaged: its JPEG reconstruction data is unusable, djxl can only decode pixels (%1)</translation>
    </message>
</context>
<context>
    <name>AutoConvertSection</name>
    <message>
        <source>自动转换</source>
        <translation>Automatic conversion</translation>
    </message>
    <message>
        <source>添加文件夹…</source>
        <translation>Add Folder…</translation>
    </message>
    <message>
        <source>移除</source>
        <translation>Remove</translation>
    </message>
    <message>
        <source>登录时自动转换新照片</source>
        <translation>Convert new photos at login</translation>
    </message>
    <message>
        <source>登录后，这些文件夹中新增的 JPEG 照片会在后台无损转换为 JPEG XL。</source>
        <translation>After you log in, new JPEG photos in these folders are converted losslessly to JPEG XL in the background.</translation>
    </message>
    <message>
        <source>自动转换的文件夹</source>
        <translation>Folders converted automatically</translation>
    </message>
    <message>
        <source>原文件处理方式：</source>
        <translation>Original photos:</translation>
    </message>
    <message>
        <source>选择要自动转换的文件夹</source>
        <translation>Choose a Folder to Convert Automatically</translation>
    </message>
</context>
<context>
    <name>BatchFeedback</name>
    <message>
        <source>Pikora正在批量处理照片</source>
        <translation>Pikora is converting photos</translation>
    </message>
</context>
<context>
    <name>BatchRunner</name>
    <message>
        <source>输出文件夹不存在：%1。请连接它所在的磁盘，或在设置中另选输出位置。</source>
        <translation>The output folder does not exist: %1. Connect the disk it is on, or choose another output location in the settings.</translation>
    </message>
    <message>
        <source>输出文件夹所在的磁盘未连接：%1。请连接该磁盘，或在设置中另选输出位置。</source>
        <translation>The disk of the output folder is not connected: %1. Connect that disk, or choose another output location in the settings.</translation>
    </message>
</context>
<context>
    <name>CheckUpdateCommand</name>
    <message>
        <source>发现新版本 v%1（当前版本 v%2）</source>
        <translation>New version v%1 available (this is v%2)</translation>
    </message>
    <message>
        <source>下载地址：%1</source>
        <translation>Download: %1</translation>
    </message>
    <message>
        <source>无</source>
        <translation>none</translation>
    </message>
    <message>
        <source>发布页面：%1</source>
        <translation>Release page: %1</translation>
    </message>
    <message>
        <source>当前已是最新版本 (v%1)</source>
        <translation>Up to date (v%1)</translation>
    </message>
    <message>
        <source>检查更新失败：%1</source>
        <translation>Update check failed: %1</translation>
    </message>
</context>
<context>
    <name>CliCommands</name>
    <message>
        <source>已校验</source>
        <translation>verified</translation>
    </message>
    <message>
        <source>完成    %1 -&gt; %2（%3）</source>
        <translation>ok      %1 -&gt; %2  (%3)</translation>
    </message>
    <message>
        <source>，</source>
        <translation>, </translation>
    </message>
    <message>
        <source>        警告：%1</source>
        <translation>        warning: %1</translation>
    </message>
    <message>
        <source>失败    %1：%2</source>
        <translation>FAILED  %1: %2</translation>
    </message>
    <message>
        <source>已停止  %1</source>
        <translation>stopped %1</translation>
    </message>
    <message>
        <source>%1 %2：不是可执行文件</source>
        <translation>%1 %2: not an executable file</translation>
    </message>
    <message>
        <source>已节省 %1</source>
        <translation>saved %1</translation>
    </message>
    <message>
        <source>未找到 JPEG 文件。</source>
        <translation>No JPEG files found.</translation>
    </message>
    <message>
        <source>未找到 JPEG XL 文件。</source>
        <translation>No JPEG XL files found.</translation>
    </message>
    <message>
        <source>已中断：正在停止运行中的任务...</source>
        <translation>Interrupted: stopping the running jobs...</translation>
    </message>
    <message>
        <source>%1 个完成，%2 个失败</source>
        <translation>%1 completed, %2 failed</translation>
    </message>
    <message numerus="yes">
        <source>%n 个原文件未能移除</source>
        <translation>
            <numerusform>%n original could not be removed</numerusform>
            <numerusform>%n originals could not be removed</numerusform>
        </translation>
    </message>
    <message>
        <source>节省 %1，占 %2 的 %3%</source>
        <translation>saved %1 of %2 (%3%)</translation>
    </message>
    <message>
        <source>节省 %1</source>
        <translation>saved %1</translation>
    </message>
    <message>
        <source>%1，用时 %2</source>
        <translation>%1 in %2</translation>
    </message>
    <message>
        <source>参数顺序反了：verify 先接 JPEG，再接 JXL</source>
        <translation>the arguments are swapped: verify takes the JPEG first, then the JXL</translation>
    </message>
    <message>
        <source>%1 不是 JPEG 文件</source>
        <translation>%1 is not a JPEG</translation>
    </message>
    <message>
        <source>%1 不是 JPEG XL 文件</source>
        <translation>%1 is not a JPEG XL file</translation>
    </message>
    <message>
        <source>无法读取 %1：%2</source>
        <translation>cannot read %1: %2</translation>
    </message>
    <message>
        <source>一致：%1 可逐字节还原出 %2</source>
        <translation>identical: %1 restores %2 byte for byte</translation>
    </message>
    <message>
        <source>已取消</source>
        <translation>cancelled</translation>
    </message>
    <message numerus="yes">
        <source>JPEG：    %n 个文件，%1</source>
        <translation>
            <numerusform>JPEG:      %n file, %1</numerusform>
            <numerusform>JPEG:      %n files, %1</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>JPEG XL： %n 个文件，%1</source>
        <translation>
            <numerusform>JPEG XL:   %n file, %1</numerusform>
            <numerusform>JPEG XL:   %n files, %1</numerusform>
        </translation>
    </message>
    <message>
        <source>预计可节省：%1</source>
        <translation>Estimated savings: %1</translation>
    </message>
    <message numerus="yes">
        <source>累计已节省 %1，共 %n 次转换</source>
        <translation>
            <numerusform>Saved so far: %1 by %n conversion</numerusform>
            <numerusform>Saved so far: %1 by %n conversions</numerusform>
        </translation>
    </message>
    <message>
        <source>由之前的运行生成</source>
        <translation>made by an earlier run</translation>
    </message>
    <message>
        <source>已跳过  %1 -&gt; %2（之前已转换）</source>
        <translation>skipped %1 -&gt; %2  (converted before)</translation>
    </message>
    <message>
        <source>--files-from %1：%2</source>
        <translation>--files-from %1: %2</translation>
    </message>
    <message>
        <source>--output-dir %1：不是文件夹</source>
        <translation>--output-dir %1: not a folder</translation>
    </message>
    <message>
        <source>%1 个已跳过</source>
        <translation>%1 skipped</translation>
    </message>
    <message>
        <source>已跳过  %1（转换后不会更小，已保留原 JPEG）</source>
        <translation>skipped %1  (would not be smaller; the JPEG is kept)</translation>
    </message>
    <message numerus="yes">
        <source>%n 个转换后不会更小，保留为 JPEG</source>
        <translation>
            <numerusform>%n would not be smaller, kept as JPEG</numerusform>
            <numerusform>%n would not be smaller, kept as JPEG</numerusform>
        </translation>
    </message>
    <message>
        <source>完好    %1</source>
        <translation>ok      %1</translation>
    </message>
    <message>
        <source>已损坏  %1：%2</source>
        <translation>DAMAGED %1: %2</translation>
    </message>
    <message>
        <source>未证实  %1：%2</source>
        <translation>unproven %1: %2</translation>
    </message>
    <message>
        <source>不可还原 %1：%2</source>
        <translation>not restorable %1: %2</translation>
    </message>
    <message>
        <source>已跳过  %1（%2 已检查完好）</source>
        <translation>skipped %1  (checked good at %2)</translation>
    </message>
    <message>
        <source>%1 个完好，%2 个已损坏</source>
        <translation>%1 ok, %2 damaged</translation>
    </message>
    <message>
        <source>%1 个未证实</source>
        <translation>%1 unproven</translation>
    </message>
    <message>
        <source>%1 个不可还原</source>
        <translation>%1 not restorable</translation>
    </message>
    <message>
        <source>%1 个无法检查</source>
        <translation>%1 could not be checked</translation>
    </message>
    <message>
        <source>%1：不是文件夹</source>
        <translation>%1: not a folder</translation>
    </message>
    <message>
        <source>无法监视文件夹：%1</source>
        <translation>cannot watch folders: %1</translation>
    </message>
    <message>
        <source>文件夹 %1 不可用，恢复后继续监视</source>
        <translation>folder %1 is not available; watching resumes when it is back</translation>
    </message>
    <message>
        <source>文件夹 %1 已恢复，继续监视</source>
        <translation>folder %1 is back; watching it again</translation>
    </message>
    <message numerus="yes">
        <source>已达到系统对 inotify 监视数的上限（fs.inotify.max_user_watches）：%n 个文件夹改为每 %1 分钟检查一次</source>
        <translation>
            <numerusform>the system&apos;s limit on inotify watches (fs.inotify.max_user_watches) is reached: %n folder is looked at every %1 minutes instead</numerusform>
            <numerusform>the system&apos;s limit on inotify watches (fs.inotify.max_user_watches) is reached: %n folders are looked at every %1 minutes instead</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>正在监视 %n 个文件夹，按 Ctrl-C 停止</source>
        <translation>
            <numerusform>Watching %n folder; Ctrl-C stops</numerusform>
            <numerusform>Watching %n folders; Ctrl-C stops</numerusform>
        </translation>
    </message>
    <message>
        <source>设置中没有要自动转换的文件夹</source>
        <translation>no folder is saved for automatic conversion in the settings</translation>
    </message>
</context>
<context>
    <name>CliMain</name>
    <message>
        <source>第 %1 个参数不是有效的 UTF-8；请重命名该文件，或改为指定它所在的文件夹</source>
        <translation>argument %1 is not valid UTF-8; rename the file or give its folder instead</translation>
    </message>
</context>
<context>
    <name>CliOptions</name>
    <message>
        <source>未指定命令</source>
        <translation>no command given</translation>
    </message>
    <message>
        <source>未知命令“%1”</source>
        <translation>unknown command &quot;%1&quot;</translation>
    </message>
    <message>
        <source>--effort 需要 1 到 9 之间的整数</source>
        <translation>--effort takes a whole number from 1 to 9</translation>
    </message>
    <message>
        <source>--originals 只接受 keep、trash 或 delete</source>
        <translation>--originals takes keep, trash or delete</translation>
    </message>
    <message>
        <source>--jobs 需要 1 到 1024 之间的整数</source>
        <translation>--jobs takes a whole number from 1 to 1024</translation>
    </message>
    <message>
        <source>请至少指定一个文件或文件夹</source>
        <translation>give at least one file or folder</translation>
    </message>
    <message>
        <source>verify 需要一个 JPEG 文件和一个 JXL 文件</source>
        <translation>verify takes a JPEG file and a JXL file</translation>
    </message>
    <message>
        <source>--output-dir 需要一个文件夹</source>
        <translation>--output-dir takes a folder</translation>
    </message>
    <message>
        <source>-0 只能与 --files-from 一起使用</source>
        <translation>-0 goes with --files-from</translation>
    </message>
    <message>
        <source>--shard 需要 K/N，且 0 &lt;= K &lt; N</source>
        <translation>--shard takes K/N with 0 &lt;= K &lt; N</translation>
    </message>
    <message>
        <source>  -e, --effort N               编码强度 1-9（默认为已保存的设置）
</source>
        <translation>  -e, --effort N               encoder effort 1-9 (default: the saved setting)
</translation>
    </message>
    <message>
        <source>  -o, --originals keep|trash|delete
                               成功后如何处理每个原文件
</source>
        <translation>  -o, --originals keep|trash|delete
                               what becomes of each original after success
</translation>
    </message>
    <message>
        <source>  --verify                     校验每次转换，保留原文件时也校验
</source>
        <translation>  --verify                     verify every conversion, also when originals are kept
</translation>
    </message>
    <message>
        <source>  --cjxl PATH, --djxl PATH     使用指定的工具
</source>
        <translation>  --cjxl PATH, --djxl PATH     use these tools
</translation>
    </message>
    <message>
        <source>  -j, --jobs N                 同时处理的任务数（默认为已保存的并发设置）
</source>
        <translation>  -j, --jobs N                 jobs at once (default: the saved concurrency)
</translation>
    </message>
    <message>
        <source>  --json                       每完成一个任务输出一个 JSON 对象
</source>
        <translation>  --json                       one JSON object per finished job
</translation>
    </message>
    <message>
        <source>  -q, --quiet                  只输出失败的任务
</source>
        <translation>  -q, --quiet                  print failures only
</translation>
    </message>
    <message>
        <source>  --output-dir DIR             把输出写到 DIR 下，保留原有的文件夹结构
</source>
        <translation>  --output-dir DIR             write the outputs below DIR, keeping the folder tree
</translation>
    </message>
    <message>
        <source>  --files-from FILE            同时处理 FILE 中列出的路径（- 表示标准输入），
                               每行一个
</source>
        <translation>  --files-from FILE            also take the paths listed in FILE (- for standard input),
                               one a line
</translation>
    </message>
    <message>
        <source>  -0, --null                   --files-from 的列表以 NUL 字节分隔
</source>
        <translation>  -0, --null                   the list of --files-from is separated by NUL bytes
</translation>
    </message>
    <message>
        <source>  --shard K/N                  只处理 N 份中的第 K 份照片（0 &lt;= K &lt; N），
                               按照片在其所在文件夹中的相对路径划分
</source>
        <translation>  --shard K/N                  take only the photos of shard K of N (0 &lt;= K &lt; N), chosen
                               by their path below the folder they were found in
</translation>
    </message>
    <message>
        <source>退出状态：0 所有任务均已完成或已跳过；1 有任务失败、路径不存在或无法读取，
或原文件无法移至回收站或删除；2 用法错误、缺少工具或磁盘空间不足；
130 已中断。
</source>
        <translation>Exit status: 0 all jobs completed or skipped; 1 a job failed, a path was missing or unreadable, or an
original could not be trashed or deleted; 2 bad usage, missing tool or no room on disk;
130 interrupted.
</translation>
    </message>
    <message>
        <source>选项：
</source>
        <translation>Options:
</translation>
    </message>
    <message>
        <source>  -h, --help                   显示此命令的用法
</source>
        <translation>  -h, --help                   show this usage
</translation>
    </message>
    <message>
        <source>用法：pikora-cli compress [选项] 路径...
把在文件和文件夹中找到的 JPEG 文件转换为 JPEG XL。
</source>
        <translation>Usage: pikora-cli compress [options] PATH...
Convert the JPEG files found in files and folders to JPEG XL.
</translation>
    </message>
    <message>
        <source>用法：pikora-cli restore [选项] 路径...
从 JPEG XL 文件还原出原始 JPEG 文件。
</source>
        <translation>Usage: pikora-cli restore [options] PATH...
Rebuild the original JPEG files from JPEG XL files.
</translation>
    </message>
    <message>
        <source>用法：pikora-cli verify [选项] JPEG JXL
检查 JXL 能否逐字节还原出 JPEG：是则退出状态为 0，否则为 1。
</source>
        <translation>Usage: pikora-cli verify [options] JPEG JXL
Check that JXL restores JPEG byte for byte: exit status 0 if it does, 1 if not.
</translation>
    </message>
    <message>
        <source>  --djxl PATH                  使用指定的 djxl
</source>
        <translation>  --djxl PATH                  use this djxl
</translation>
    </message>
    <message>
        <source>用法：pikora-cli scan [选项] 路径...
列出导入时会找到的文件，不做转换。
</source>
        <translation>Usage: pikora-cli scan [options] PATH...
Show what an import would find, convert nothing.
</translation>
    </message>
    <message>
        <source>  --json                       输出一个 JSON 对象
</source>
        <translation>  --json                       print one JSON object
</translation>
    </message>
    <message>
        <source>用法：pikora-cli stats [选项]
显示历次转换累计节省的空间。
</source>
        <translation>Usage: pikora-cli stats [options]
Show the space saved by every conversion so far.
</translation>
    </message>
    <message>
        <source>用法：pikora-cli check-update [选项]
检查是否有新版本。
找到新版本或已是最新版本时退出状态为 0，检查失败时为 1。
</source>
        <translation>Usage: pikora-cli check-update [options]
Look for a newer release.
Exit status 0 when one was found or this is the latest, 1 when the check failed.
</translation>
    </message>
    <message>
        <source>  --feed URL                   只向 URL 询问，不问默认的发布源
</source>
        <translation>  --feed URL                   ask URL alone instead of the release feeds
</translation>
    </message>
    <message>
        <source>%1 不接受路径</source>
        <translation>%1 takes no paths</translation>
    </message>
    <message>
        <source>  --older-than DAYS            跳过 DAYS 天内检查完好且之后未修改的文件
</source>
        <translation>  --older-than DAYS            skip files checked good within DAYS days and not changed since
</translation>
    </message>
    <message>
        <source>  --strict                     未证实或不可还原的文件也算失败
</source>
        <translation>  --strict                     unproven and not restorable files fail the run too
</translation>
    </message>
    <message>
        <source>check 的选项（另有 --djxl、-j、--json、-q，用法同上）：
</source>
        <translation>Options of check (also --djxl, -j, --json, -q, as above):
</translation>
    </message>
    <message>
        <source>compress、restore、check 和 scan 的选项：
</source>
        <translation>Options of compress, restore, check and scan:
</translation>
    </message>
    <message>
        <source>用法：pikora-cli check [选项] 路径...
检查 JPEG XL 文件能否还原出压缩时记录的原 JPEG。不在文件旁写入任何文件，
只在检查完好时把时间记入文件的扩展属性 user.pikora.checked。
每个文件的结果：ok（还原结果与记录的校验值一致）、damaged（已损坏）、
unproven（能还原，但没有记录校验值）、not-restorable（只含像素）。
</source>
        <translation>Usage: pikora-cli check [options] PATH...
Check that JPEG XL files still restore the original JPEGs whose digests they store. No file is
written beside them; a good check only records its time in the file&apos;s extended attribute
user.pikora.checked. Each file is ok (restores the stored digest), damaged, unproven
(restores, but no digest was stored) or not-restorable (pixels only).
</translation>
    </message>
    <message>
        <source>退出状态：0 所有文件均完好（或未证实，除非使用 --strict）；1 有文件已损坏、
路径不存在或无法检查，使用 --strict 时还包括未证实和不可还原的文件；
2 用法错误或缺少 djxl；130 已中断。
</source>
        <translation>Exit status: 0 every file is ok (or unproven, unless --strict); 1 a file is damaged, a path was
missing or a file could not be checked, and with --strict also unproven or not restorable files;
2 bad usage or no djxl; 130 interrupted.
</translation>
    </message>
    <message>
        <source>--older-than 需要 0 到 36500 之间的整数（天数）</source>
        <translation>--older-than needs a whole number of days from 0 to 36500</translation>
    </message>
    <message>
        <source>  --settle SECONDS             照片写完后静置多少秒再转换
                               （默认 10，可为小数）
</source>
        <translation>  --settle SECONDS             how long a photo is left alone after writing before it
                               is converted (default 10 seconds; fractions allowed)
</translation>
    </message>
    <message>
        <source>用法：pikora-cli 命令 [选项] ...

命令：
  compress [选项] 路径...      把在文件和文件夹中找到的 JPEG 文件转换为 JPEG XL
  restore [选项] 路径...       从 JPEG XL 文件还原出原始 JPEG 文件
  watch [选项] 文件夹...       监视文件夹，转换新加入或改动的 JPEG 文件
  verify JPEG JXL              检查 JXL 能否逐字节还原出 JPEG
  check [选项] 路径...         检查 JPEG XL 文件能否还原出记录的原 JPEG
  scan [选项] 路径...          列出导入时会找到的文件，不做转换
  stats [--json]               显示累计节省的空间
  check-update [--feed URL]    检查是否有新版本

pikora-cli 命令 --help 显示该命令的用法。
</source>
        <translation>Usage: pikora-cli COMMAND [options] ...

Commands:
  compress [options] PATH...   convert the JPEG files found in files and folders to JPEG XL
  restore [options] PATH...    rebuild the original JPEG files from JPEG XL files
  watch [options] FOLDER...    convert the JPEG files that arrive or change in folders
  verify JPEG JXL              check that JXL restores JPEG byte for byte
  check [options] PATH...      check that JPEG XL files still restore their original JPEGs
  scan [options] PATH...       show what an import would find, convert nothing
  stats [--json]               show the lifetime savings
  check-update [--feed URL]    look for a newer release

pikora-cli COMMAND --help shows the usage of that command.
</translation>
    </message>
    <message>
        <source>compress、restore 和 watch 的选项：
</source>
        <translation>Options of compress, restore and watch:
</translation>
    </message>
    <message>
        <source>watch 的选项：
</source>
        <translation>Options of watch:
</translation>
    </message>
    <message>
        <source>用法：pikora-cli watch [选项] 文件夹...
先转换文件夹中尚未转换的 JPEG 文件，然后监视这些文件夹及其下的所有文件夹，
把新加入或改动的 JPEG 文件在写完并静置一段时间后转换为 JPEG XL。
隐藏文件和临时文件（~、.tmp、.part、.crdownload、.partial 结尾）不予处理；
转换失败的照片在改动之前不会重试。按 Ctrl-C 或发送 SIGTERM 结束。
</source>
        <translation>Usage: pikora-cli watch [options] FOLDER...
Convert the JPEG files in the folders that are not converted yet, then watch the folders and every
folder below them and convert each JPEG file that arrives or changes once it is written and left
alone for a while. Hidden and temporary files (ending in ~, .tmp, .part, .crdownload or .partial)
are passed over; a photo that failed waits until it changes. Ctrl-C or SIGTERM ends it.
</translation>
    </message>
    <message>
        <source>退出状态：2 用法错误、缺少工具、文件夹不存在或磁盘空间不足；
130 被 Ctrl-C 或 SIGTERM 结束（运行中的任务停止，每个任务保持原样）。
</source>
        <translation>Exit status: 2 bad usage, missing tool, a folder that is not there or no room on disk;
130 ended by Ctrl-C or SIGTERM (running jobs stop, every job is left as it was).
</translation>
    </message>
    <message>
        <source>--settle 需要 0 到 86400 之间的秒数</source>
        <translation>--settle takes a number of seconds from 0 to 86400</translation>
    </message>
    <message>
        <source>请至少指定一个文件夹</source>
        <translation>give at least one folder</translation>
    </message>
    <message>
        <source>  --saved                      也监视设置中“自动转换”的文件夹；未给 -o 时
                               按那里选择的方式处理原文件；尚不存在的文件夹
                               等它出现后再监视
</source>
        <translation>  --saved                      also watch the folders of Automatic conversion in the
                               settings; without -o, treat originals as chosen there;
                               wait for folders that are not there yet
</translation>
    </message>
</context>
<context>
    <name>CommandLineHelp</name>
    <message>
        <source>用法：pikora [--compress | --restore] [路径 | URL]...
打开 Pikora 窗口，把在给定文件和文件夹中找到的照片加入列表；
若窗口已经打开，则交给该窗口。在窗口中开始批量处理之前，
不会转换任何文件。

选项：
  --compress     切换到压缩列表（JPEG 转 JPEG XL），加入找到的 JPEG 文件
  --restore      切换到还原列表（JPEG XL 转 JPEG），加入找到的 JPEG XL 文件
  -h, --help     显示此帮助并退出
  --version      显示版本并退出

路径为文件或文件夹。URL 为 file:// URL 或 pikora://import?path=文件。
同样接受 Qt 工具包的选项（例如 -platform）。
</source>
        <translation>Usage: pikora [--compress | --restore] [PATH | URL]...
Open the Pikora window with the photos found in the given files and folders in its
list, or hand them to the window already open. Nothing is converted until the batch
is started in the window.

Options:
  --compress     show the JPEG to JPEG XL list and add the JPEG files found
  --restore      show the JPEG XL to JPEG list and add the JPEG XL files found
  -h, --help     show this help and exit
  --version      show the version and exit

PATH is a file or a folder. URL is a file:// URL or pikora://import?path=FILE.
Options of the Qt toolkit (such as -platform) are accepted as well.
</translation>
    </message>
</context>
<context>
    <name>ConcurrencyMode</name>
    <message>
        <source>自动</source>
        <translation>Automatic</translation>
    </message>
    <message>
        <source>最高性能</source>
        <translation>Maximum performance</translation>
    </message>
    <message>
        <source>低功耗</source>
        <translation>Low power</translation>
    </message>
    <message>
        <source>自定…</source>
        <translation>Custom…</translation>
    </message>
</context>
<context>
    <name>DeleteStrategy</name>
    <message>
        <source>保留原始照片</source>
        <translation>Keep originals</translation>
    </message>
    <message>
        <source>在原文件同目录下输出新照片，完整保留原件。</source>
        <translation>New photos are saved next to the originals, which stay untouched.</translation>
    </message>
    <message>
        <source>移至回收站</source>
        <translation>Move to Trash</translation>
    </message>
    <message>
        <source>转码完成后，自动将原始照片移入回收站。</source>
        <translation>After converting, the original photos are moved to the Trash.</translation>
    </message>
    <message>
        <source>永久删除</source>
        <translation>Delete permanently</translation>
    </message>
    <message>
        <source>转码完成后，直接彻底删除原始照片。</source>
        <translation>After converting, the original photos are deleted for good.</translation>
    </message>
</context>
<context>
    <name>DiskSpaceGuard</name>
    <message>
        <source>磁盘空间不足：当前卷剩余可用空间仅 %1，本批次转码预估需要约 %2。请先清理磁盘空间以防文件写入截断。</source>
        <translation>Not enough disk space: only %1 is free on this volume, and this batch needs about %2. Free up space first so that no file is written incompletely.</translation>
    </message>
</context>
<context>
    <name>EmptyCanvas</name>
    <message>
        <source>选择文件夹…</source>
        <translation>Choose Folder…</translation>
    </message>
    <message>
        <source>选择照片…</source>
        <translation>Choose Photos…</translation>
    </message>
    <message>
        <source>松开以添加照片</source>
        <translation>Release to add photos</translation>
    </message>
    <message>
        <source>拖放照片或文件夹到此处</source>
        <translation>Drop photos or folders here</translation>
    </message>
    <message>
        <source>拖放 JXL 照片到此处</source>
        <translation>Drop JXL photos here</translation>
    </message>
    <message>
        <source>省下 20% 以上空间，画质与拍摄信息完好如初</source>
        <translation>Save 20% or more space, with image quality and metadata intact</translation>
    </message>
    <message>
        <source>精确复原为原始 JPEG 照片</source>
        <translation>Restore the exact original JPEG photos</translation>
    </message>
</context>
<context>
    <name>FileJob</name>
    <message>
        <source>由 JPEG 无损转换的 JXL</source>
        <translation>a JXL losslessly converted from JPEG</translation>
    </message>
    <message>
        <source>JXL 文件中没有压缩时记录的原文件校验值，无法证明还原结果无损，已保留 JXL 文件</source>
        <translation>The JXL file holds no checksum of the original taken at compression, so the restored JPEG cannot be proven lossless; the JXL file was kept</translation>
    </message>
    <message>
        <source>无法读取输出文件</source>
        <translation>Cannot read the output file</translation>
    </message>
    <message>
        <source>JXL 文件已损坏，无法还原</source>
        <translation>The JXL file is damaged and cannot be restored</translation>
    </message>
    <message>
        <source>新生成的 JXL 不含 JPEG 重建数据，无法还原出原文件，已删除；原文件保持不变</source>
        <translation>The new JXL holds no JPEG reconstruction data and could not restore the original, so it was deleted; the original is untouched</translation>
    </message>
    <message>
        <source>无损校验未通过：新生成的 JXL 无法还原，已删除；原文件保持不变</source>
        <translation>Lossless check failed: the new JXL could not be restored, so it was deleted; the original is untouched</translation>
    </message>
    <message>
        <source>无法再次读取原文件，原文件未做处理</source>
        <translation>The original could not be read again, so it was left alone</translation>
    </message>
</context>
<context>
    <name>FileManager</name>
    <message>
        <source>没有可用的文件管理器来显示此文件</source>
        <translation>No file manager is available to show this file</translation>
    </message>
</context>
<context>
    <name>FileScanner</name>
    <message>
        <source>找不到指定文件: %1</source>
        <translation>File not found: %1</translation>
    </message>
    <message>
        <source>无法访问: %1 (%2)</source>
        <translation>Cannot access: %1 (%2)</translation>
    </message>
    <message>
        <source>无法读取文件夹: %1 (%2)</source>
        <translation>Cannot read folder: %1 (%2)</translation>
    </message>
    <message>
        <source>文件名不是有效的 UTF-8 编码，无法处理: %1</source>
        <translation>File name is not valid UTF-8; cannot process: %1</translation>
    </message>
    <message>
        <source>文件名不是有效的 UTF-8 编码，无法处理</source>
        <translation>File name is not valid UTF-8; cannot process</translation>
    </message>
</context>
<context>
    <name>FileSignature</name>
    <message>
        <source>此文件不是 JPEG 图像（文件是空的）</source>
        <translation>This file is not a JPEG image (the file is empty)</translation>
    </message>
    <message>
        <source>此文件不是 JPEG 图像（无法识别其内容）</source>
        <translation>This file is not a JPEG image (its content is not recognised)</translation>
    </message>
    <message>
        <source>此文件不是 JPEG 图像，而是 PNG 图像（扩展名与内容不符）</source>
        <translation>This file is not a JPEG image but a PNG image (its extension does not match its content)</translation>
    </message>
    <message>
        <source>此文件不是 JPEG 图像，而是 GIF 图像（扩展名与内容不符）</source>
        <translation>This file is not a JPEG image but a GIF image (its extension does not match its content)</translation>
    </message>
    <message>
        <source>此文件不是 JPEG 图像，而是 WebP 图像（扩展名与内容不符）</source>
        <translation>This file is not a JPEG image but a WebP image (its extension does not match its content)</translation>
    </message>
    <message>
        <source>此文件不是 JPEG 图像，而是 TIFF 图像（扩展名与内容不符）</source>
        <translation>This file is not a JPEG image but a TIFF image (its extension does not match its content)</translation>
    </message>
    <message>
        <source>此文件不是 JPEG 图像，而是 HEIF 图像（扩展名与内容不符）</source>
        <translation>This file is not a JPEG image but a HEIF image (its extension does not match its content)</translation>
    </message>
    <message>
        <source>此文件不是 JPEG 图像，而是 AVIF 图像（扩展名与内容不符）</source>
        <translation>This file is not a JPEG image but an AVIF image (its extension does not match its content)</translation>
    </message>
    <message>
        <source>此文件不是 JPEG 图像，而是 JPEG XL 图像（扩展名与内容不符）</source>
        <translation>This file is not a JPEG image but a JPEG XL image (its extension does not match its content)</translation>
    </message>
    <message>
        <source>此文件不是 JPEG 图像，而是 BMP 图像（扩展名与内容不符）</source>
        <translation>This file is not a JPEG image but a BMP image (its extension does not match its content)</translation>
    </message>
</context>
<context>
    <name>GeneralSettingsTab</name>
    <message>
        <source>安全与储存策略</source>
        <translation>Safety and Storage</translation>
    </message>
    <message>
        <source>在所选的输出文件夹中生成新照片，完整保留原件。</source>
        <translation>New photos are saved in the chosen output folder; the originals stay untouched.</translation>
    </message>
    <message>
        <source>原文件处理方式：</source>
        <translation>Original photos:</translation>
    </message>
    <message>
        <source>始终验证无损转换</source>
        <translation>Always verify lossless conversion</translation>
    </message>
    <message>
        <source>移走或删除原文件之前总会先验证，此时无法关闭。</source>
        <translation>Originals are always verified before they are moved or deleted, so this cannot be turned off now.</translation>
    </message>
    <message>
        <source>反馈与微交互</source>
        <translation>Feedback</translation>
    </message>
    <message>
        <source>完成批处理时播放提示音</source>
        <translation>Play a sound when a batch finishes</translation>
    </message>
    <message>
        <source>转换工具</source>
        <translation>Conversion Tools</translation>
    </message>
    <message>
        <source>自动查找</source>
        <translation>Find automatically</translation>
    </message>
    <message>
        <source>%1 的路径</source>
        <translation>Path of %1</translation>
    </message>
    <message>
        <source>选择…</source>
        <translation>Choose…</translation>
    </message>
    <message>
        <source>选择 %1</source>
        <translation>Choose %1</translation>
    </message>
    <message>
        <source>正在查找…</source>
        <translation>Searching…</translation>
    </message>
    <message>
        <source>%1（v%2）</source>
        <translation>%1 (v%2)</translation>
    </message>
    <message>
        <source>所填路径不是可执行文件，已改用：%1</source>
        <translation>The path given is not an executable; using instead: %1</translation>
    </message>
    <message>
        <source>已找到：%1</source>
        <translation>Found: %1</translation>
    </message>
</context>
<context>
    <name>HardwareDetector</name>
    <message>
        <source>未知处理器</source>
        <translation>Unknown processor</translation>
    </message>
</context>
<context>
    <name>IntegrationSettingsTab</name>
    <message>
        <source>系统右键集成</source>
        <translation>Context Menu</translation>
    </message>
    <message>
        <source>文件管理器快捷操作</source>
        <translation>File manager actions</translation>
    </message>
    <message>
        <source>在文件管理器（Nautilus、Caja、Dolphin、Nemo）中右键点按照片或文件夹，即可通过右键菜单直接压缩或还原。Nautilus 与 Caja 把它们放在「脚本」子菜单中。</source>
        <translation>Right-click photos or folders in your file manager (Nautilus, Caja, Dolphin, Nemo) to compress or restore them from the context menu. Nautilus and Caja show them in the “Scripts” submenu.</translation>
    </message>
    <message>
        <source>URL Scheme 协议</source>
        <translation>URL Scheme</translation>
    </message>
    <message>
        <source>支持通过 URL Scheme 唤起Pikora并导入指定路径：</source>
        <translation>Open Pikora and import a path through its URL scheme:</translation>
    </message>
    <message>
        <source>URL Scheme 示例</source>
        <translation>URL scheme example</translation>
    </message>
    <message>
        <source>已安装</source>
        <translation>Installed</translation>
    </message>
    <message>
        <source>未安装</source>
        <translation>Not installed</translation>
    </message>
    <message>
        <source>移除快捷操作</source>
        <translation>Remove Actions</translation>
    </message>
    <message>
        <source>添加至文件管理器…</source>
        <translation>Add to File Manager…</translation>
    </message>
    <message>
        <source>Pikora</source>
        <translation>Pikora</translation>
    </message>
    <message>
        <source>无法添加文件管理器快捷操作</source>
        <translation>Could not add the file manager actions</translation>
    </message>
    <message>
        <source>无法移除文件管理器快捷操作</source>
        <translation>Could not remove the file manager actions</translation>
    </message>
</context>
<context>
    <name>JXLError</name>
    <message>
        <source>无法读取文件: %1 (%2)</source>
        <translation>Cannot read file: %1 (%2)</translation>
    </message>
    <message>
        <source>%1 (%2)</source>
        <translation>%1 (%2)</translation>
    </message>
    <message>
        <source>未检测到 %1 工具。请确保已安装 libjxl-tools (sudo apt install libjxl-tools) 或在设置中指定路径。</source>
        <translation>Cannot find the %1 tool. Install libjxl-tools (sudo apt install libjxl-tools) or choose its path in the settings.</translation>
    </message>
    <message>
        <source>%1 运行出错 (代码 %2): %3</source>
        <translation>%1 failed (exit code %2): %3</translation>
    </message>
    <message>
        <source>%1%2</source>
        <comment>the cause, then the tool&apos;s failure</comment>
        <translation>%1 %2</translation>
    </message>
    <message>
        <source>%1 被强制终止 (信号 %2)，系统可能内存不足: %3</source>
        <translation>%1 was killed (signal %2); the system may be out of memory: %3</translation>
    </message>
    <message>
        <source>%1 被信号终止 (信号 %2): %3</source>
        <translation>%1 was stopped by a signal (signal %2): %3</translation>
    </message>
    <message>
        <source>找不到指定文件: %1</source>
        <translation>File not found: %1</translation>
    </message>
    <message>
        <source>无损校验未通过: %1</source>
        <translation>Lossless check failed: %1</translation>
    </message>
    <message>
        <source>文件格式不匹配，预期为: %1</source>
        <translation>Wrong file format; expected: %1</translation>
    </message>
</context>
<context>
    <name>JpegDiagnosis</name>
    <message>
        <source>此文件不是 JPEG 图像 (缺少 JPEG 起始标记)。</source>
        <translation>This file is not a JPEG image (no JPEG start marker).</translation>
    </message>
    <message>
        <source>此文件开头有 %1 字节多余数据，不是标准的 JPEG 文件。</source>
        <translation>This file is not a standard JPEG: it starts with %1 B of extra data.</translation>
    </message>
    <message>
        <source>此 JPEG 的文件头已损坏。</source>
        <translation>The header of this JPEG is damaged.</translation>
    </message>
    <message>
        <source>此 JPEG 使用算术编码，cjxl 不支持对其无损转换。</source>
        <translation>This JPEG uses arithmetic coding, which cjxl cannot convert losslessly.</translation>
    </message>
    <message>
        <source>此 JPEG 为无损 JPEG (SOF3)，cjxl 不支持对其无损转换。</source>
        <translation>This is a lossless JPEG (SOF3), which cjxl cannot convert losslessly.</translation>
    </message>
    <message>
        <source>此 JPEG 为分层编码 JPEG，cjxl 不支持对其无损转换。</source>
        <translation>This is a hierarchical JPEG, which cjxl cannot convert losslessly.</translation>
    </message>
    <message>
        <source>此 JPEG 为 %1 位精度，cjxl 只支持 8 位 JPEG 的无损转换。</source>
        <translation>This JPEG has %1-bit precision; cjxl converts only 8-bit JPEGs losslessly.</translation>
    </message>
    <message>
        <source>此 JPEG 为 CMYK 色彩模式，cjxl 不支持对其无损转换。</source>
        <translation>This JPEG is in CMYK colour, which cjxl cannot convert losslessly.</translation>
    </message>
    <message>
        <source>此 JPEG 为 YCCK 色彩模式，cjxl 不支持对其无损转换。</source>
        <translation>This JPEG is in YCCK colour, which cjxl cannot convert losslessly.</translation>
    </message>
    <message>
        <source>此 JPEG 有 %1 个颜色分量，cjxl 只支持 1 个或 3 个。</source>
        <translation>This JPEG has %1 colour components; cjxl supports only 1 or 3.</translation>
    </message>
    <message>
        <source>此 JPEG 的色度采样方式不常见 (%1)，cjxl 不支持对其无损转换。</source>
        <translation>This JPEG uses an unusual chroma subsampling (%1), which cjxl cannot convert losslessly.</translation>
    </message>
    <message>
        <source>此 JPEG 多次定义了重启间隔 (DRI)，cjxl 不支持对其无损转换。</source>
        <translation>This JPEG defines its restart interval (DRI) more than once, which cjxl cannot convert losslessly.</translation>
    </message>
    <message>
        <source>此 JPEG 的图像数据不完整 (扫描数据提前结束)，文件可能已损坏或被截断。</source>
        <translation>The image data of this JPEG is incomplete (the scan ends early); the file may be damaged or truncated.</translation>
    </message>
    <message>
        <source>此 JPEG 数据不完整 (缺少结束标记 EOI)，文件可能在复制或下载时被截断。</source>
        <translation>This JPEG is incomplete (no EOI end marker); the file may have been cut short while copying or downloading.</translation>
    </message>
</context>
<context>
    <name>JxlThumbnail</name>
    <message>
        <source>不是普通文件</source>
        <translation>not a regular file</translation>
    </message>
    <message>
        <source>不是 JPEG XL 文件</source>
        <translation>not a JPEG XL file</translation>
    </message>
    <message>
        <source>JPEG XL 文件头中没有图像尺寸</source>
        <translation>the JPEG XL header holds no image size</translation>
    </message>
    <message>
        <source>图像有 %1 像素，超过了生成缩略图的上限 %2 像素</source>
        <translation>%1 pixels is more than the %2 pixels a thumbnail is made of</translation>
    </message>
    <message>
        <source>文件太大，无法读取</source>
        <translation>the file is too large to read</translation>
    </message>
    <message>
        <source>无法解码此 JPEG XL 文件</source>
        <translation>the JPEG XL file cannot be decoded</translation>
    </message>
    <message>
        <source>无法编码 PNG</source>
        <translation>cannot encode the PNG</translation>
    </message>
    <message>
        <source>输出位置不是普通文件</source>
        <translation>the output is not a regular file</translation>
    </message>
</context>
<context>
    <name>LanguageSetting</name>
    <message>
        <source>界面语言</source>
        <translation>Language</translation>
    </message>
    <message>
        <source>跟随系统</source>
        <translation>Same as system</translation>
    </message>
    <message>
        <source>重新启动 Pikora 后生效</source>
        <translation>Takes effect when Pikora is restarted</translation>
    </message>
</context>
<context>
    <name>MainToolBar</name>
    <message>
        <source>工具栏</source>
        <translation>Toolbar</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>磁盘空间不足</source>
        <translation>Not Enough Disk Space</translation>
    </message>
    <message>
        <source>好</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>正在处理照片</source>
        <translation>Converting Photos</translation>
    </message>
    <message>
        <source>要停止处理并退出 Pikora 吗？</source>
        <translation>Stop converting and quit Pikora?</translation>
    </message>
    <message>
        <source>正在转换的照片会回到等待状态，不留下未完成的文件；原始照片保持不变。</source>
        <translation>Photos being converted go back to waiting and leave no unfinished files; the originals stay unchanged.</translation>
    </message>
    <message>
        <source>停止并退出</source>
        <translation>Stop and Quit</translation>
    </message>
    <message>
        <source>继续处理</source>
        <translation>Keep Converting</translation>
    </message>
    <message>
        <source>输出位置不可用</source>
        <translation>Output location unavailable</translation>
    </message>
    <message>
        <source>文件(&amp;F)</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>编辑(&amp;E)</source>
        <translation>&amp;Edit</translation>
    </message>
    <message>
        <source>显示(&amp;V)</source>
        <translation>&amp;View</translation>
    </message>
    <message>
        <source>任务(&amp;T)</source>
        <translation>&amp;Tasks</translation>
    </message>
</context>
<context>
    <name>ModeSwitch</name>
    <message>
        <source>模式切换</source>
        <translation>Mode</translation>
    </message>
</context>
<context>
    <name>NotificationManager</name>
    <message>
        <source>Pikora · 照片瘦身完成</source>
        <translation>Pikora · Photos compressed</translation>
    </message>
    <message>
        <source>Pikora · 照片还原完成</source>
        <translation>Pikora · Photos restored</translation>
    </message>
    <message numerus="yes">
        <source>已完成 %n 张照片无损压缩，累计节省 %1</source>
        <translation>
            <numerusform>Compressed %n photo losslessly, saving %1 in total</numerusform>
            <numerusform>Compressed %n photos losslessly, saving %1 in total</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>已完成 %n 张照片无损压缩</source>
        <translation>
            <numerusform>Compressed %n photo losslessly</numerusform>
            <numerusform>Compressed %n photos losslessly</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>已成功还原 %n 张照片为原始 JPEG</source>
        <translation>
            <numerusform>Restored %n photo to its original JPEG</numerusform>
            <numerusform>Restored %n photos to their original JPEGs</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>（%n 个项目失败）</source>
        <translation>
            <numerusform> (%n item failed)</numerusform>
            <numerusform> (%n items failed)</numerusform>
        </translation>
    </message>
    <message>
        <source>通知服务检查失败: </source>
        <translation>Checking the notification service failed: </translation>
    </message>
    <message>
        <source>发送通知失败: </source>
        <translation>Sending the notification failed: </translation>
    </message>
</context>
<context>
    <name>OpenPanels</name>
    <message>
        <source>导入</source>
        <translation>Import</translation>
    </message>
    <message>
        <source>选择照片…</source>
        <translation>Choose Photos…</translation>
    </message>
    <message>
        <source>JPEG 照片</source>
        <translation>JPEG photos</translation>
    </message>
    <message>
        <source>JPEG XL 照片</source>
        <translation>JPEG XL photos</translation>
    </message>
    <message>
        <source>选择文件夹…</source>
        <translation>Choose Folder…</translation>
    </message>
</context>
<context>
    <name>OutputFiles</name>
    <message>
        <source>输出文件“%1”在写入后被其他程序改动或替换，原文件未做处理</source>
        <translation>Another program changed or replaced the output file “%1” after it was written; the original was left alone</translation>
    </message>
    <message>
        <source>无法写入 %1：该文件夹是只读的</source>
        <translation>Cannot write to %1: the folder is read-only</translation>
    </message>
    <message>
        <source>无法写入 %1：没有写入该文件夹的权限</source>
        <translation>Cannot write to %1: no permission to write to the folder</translation>
    </message>
    <message>
        <source>磁盘空间已满，无法写入 %1</source>
        <translation>The disk is full; cannot write to %1</translation>
    </message>
    <message>
        <source>该卷是只读的</source>
        <translation>the volume is read-only</translation>
    </message>
    <message>
        <source>没有权限</source>
        <translation>permission denied</translation>
    </message>
    <message>
        <source>同名的文件挡在那里</source>
        <translation>a file of that name is in the way</translation>
    </message>
    <message>
        <source>磁盘空间已满</source>
        <translation>the disk is full</translation>
    </message>
    <message>
        <source>无法创建输出文件夹 %1：%2</source>
        <translation>Cannot create the output folder %1: %2</translation>
    </message>
</context>
<context>
    <name>OutputFolderSetting</name>
    <message>
        <source>输出位置</source>
        <translation>Output location</translation>
    </message>
    <message>
        <source>选择…</source>
        <translation>Choose…</translation>
    </message>
    <message>
        <source>与原照片相同的文件夹</source>
        <translation>Same folder as the original photos</translation>
    </message>
    <message>
        <source>选择输出文件夹</source>
        <translation>Choose Output Folder</translation>
    </message>
    <message>
        <source>转换后的文件保存在原照片旁边。</source>
        <translation>Converted files are saved next to the original photos.</translation>
    </message>
    <message>
        <source>转换后的文件保存在此文件夹中，并保留导入文件夹的目录结构。</source>
        <translation>Converted files are saved in this folder, keeping the structure of the imported folders.</translation>
    </message>
    <message>
        <source>此文件夹不存在：批处理不会开始，直到它再次可用（例如接上它所在的磁盘）或另选输出位置。</source>
        <translation>This folder does not exist: batches will not start until it is available again (for example, once its disk is connected) or another output location is chosen.</translation>
    </message>
</context>
<context>
    <name>PerformanceSettingsTab</name>
    <message>
        <source>多核调度</source>
        <translation>Multi-core Scheduling</translation>
    </message>
    <message>
        <source>处理性能</source>
        <translation>Performance</translation>
    </message>
    <message>
        <source>核心数量</source>
        <translation>Cores</translation>
    </message>
    <message>
        <source>JXL 编码算力</source>
        <translation>JXL Encoding Effort</translation>
    </message>
    <message>
        <source>压缩级别</source>
        <translation>Effort</translation>
    </message>
    <message>
        <source>级别 7 在处理速度与体积压缩之间达到黄金平衡；级别 9 提供极致无损压缩（耗时较长）。</source>
        <translation>Level 7 balances speed and file size best; level 9 compresses the most (and takes longer).</translation>
    </message>
    <message>
        <source>根据本机的处理器核心数自动调度，全速转码的同时预留系统响应余量。</source>
        <translation>Scheduled by the number of processor cores: converts at full speed while keeping the system responsive.</translation>
    </message>
    <message>
        <source>全力释放处理器算力，适合大批量照片集中转码。</source>
        <translation>Uses all of the processor, for large batches of photos.</translation>
    </message>
    <message>
        <source>降低发热与电量消耗，适合不插电办公或后台静默批处理。</source>
        <translation>Less heat and battery drain, for working unplugged or quietly in the background.</translation>
    </message>
    <message>
        <source>手动指定参与并发转码的 CPU 核心数。</source>
        <translation>Choose how many CPU cores convert at once.</translation>
    </message>
    <message numerus="yes">
        <source>%1 · 智能调度 %n 核心 (%3 性能核 + %4 能效核)</source>
        <translation>
            <numerusform>%1 · Automatic: %n core (%3 performance + %4 efficiency)</numerusform>
            <numerusform>%1 · Automatic: %n cores (%3 performance + %4 efficiency)</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 · 智能调度 %n 核心</source>
        <translation>
            <numerusform>%1 · Automatic: %n core</numerusform>
            <numerusform>%1 · Automatic: %n cores</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 · 调度全部 %n 核心</source>
        <translation>
            <numerusform>%1 · All %n core</numerusform>
            <numerusform>%1 · All %n cores</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 · 调度 %n 核心</source>
        <translation>
            <numerusform>%1 · %n core</numerusform>
            <numerusform>%1 · %n cores</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 · 自定 %n 核心</source>
        <translation>
            <numerusform>%1 · Custom: %n core</numerusform>
            <numerusform>%1 · Custom: %n cores</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n 核</source>
        <translation>
            <numerusform>%n core</numerusform>
            <numerusform>%n cores</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>PreviewWindow</name>
    <message>
        <source>照片预览</source>
        <translation>Photo Preview</translation>
    </message>
    <message>
        <source>正在载入…</source>
        <translation>Loading…</translation>
    </message>
    <message>
        <source>无法预览此文件</source>
        <translation>Cannot preview this file</translation>
    </message>
</context>
<context>
    <name>ProgressStrip</name>
    <message>
        <source>处理进度</source>
        <translation>Progress</translation>
    </message>
</context>
<context>
    <name>QuickActionInstaller</name>
    <message>
        <source>无法创建文件夹“%1”：%2</source>
        <translation>Cannot create folder “%1”: %2</translation>
    </message>
    <message>
        <source>无法删除“%1”：%2</source>
        <translation>Cannot delete “%1”: %2</translation>
    </message>
    <message>
        <source>无法写入“%1”：%2</source>
        <translation>Cannot write “%1”: %2</translation>
    </message>
</context>
<context>
    <name>SettingsWindow</name>
    <message>
        <source>偏好设置</source>
        <translation>Preferences</translation>
    </message>
    <message>
        <source>常规</source>
        <translation>General</translation>
    </message>
    <message>
        <source>性能与硬件</source>
        <translation>Performance</translation>
    </message>
    <message>
        <source>文件管理器集成</source>
        <translation>File Manager</translation>
    </message>
    <message>
        <source>关于与更新</source>
        <translation>About &amp;&amp; Updates</translation>
    </message>
</context>
<context>
    <name>SourceDisposal</name>
    <message>
        <source>“%1”在转换过程中已被移走或删除，未做处理</source>
        <translation>“%1” was moved or deleted during the conversion and was left alone</translation>
    </message>
    <message>
        <source>“%1”是符号链接，它指向的照片未做处理</source>
        <translation>“%1” is a symbolic link; the photo it points to was left alone</translation>
    </message>
    <message>
        <source>无法删除“%1”：%2</source>
        <translation>Cannot delete “%1”: %2</translation>
    </message>
    <message>
        <source>原文件现位于“%1”</source>
        <translation>The original is now at “%1”</translation>
    </message>
    <message>
        <source>原照片在转换过程中被修改，已保留修改后的文件；请重新转换</source>
        <translation>The original photo was changed during the conversion; the changed file was kept. Convert it again</translation>
    </message>
    <message>
        <source>修改后的文件现位于“%1”</source>
        <translation>The changed file is now at “%1”</translation>
    </message>
</context>
<context>
    <name>StatsPopup</name>
    <message>
        <source>储存空间概览</source>
        <translation>Storage Overview</translation>
    </message>
    <message>
        <source>关闭 (Esc)</source>
        <translation>Close (Esc)</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>已节省储存空间</source>
        <translation>Space saved</translation>
    </message>
    <message>
        <source>100% 原始画质</source>
        <translation>100% original quality</translation>
    </message>
    <message>
        <source>历史累计</source>
        <translation>All time</translation>
    </message>
    <message>
        <source>平均缩减率</source>
        <translation>Average reduction</translation>
    </message>
    <message>
        <source>画质保证</source>
        <translation>Image quality</translation>
    </message>
    <message>
        <source>完整保留色彩与拍摄信息</source>
        <translation>Colour and metadata kept</translation>
    </message>
    <message>
        <source>100% 无损</source>
        <translation>100% lossless</translation>
    </message>
    <message>
        <source>压缩照片即可释放储存空间</source>
        <translation>Compress photos to free up space</translation>
    </message>
    <message numerus="yes">
        <source>%n 张</source>
        <translation>
            <numerusform>%n photo</numerusform>
            <numerusform>%n photos</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>相当于多容纳约 %n 张原始照片</source>
        <translation>
            <numerusform>Room for about %n more original photo</numerusform>
            <numerusform>Room for about %n more original photos</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>历史累计，不含本次跳过的 %n 张</source>
        <translation>
            <numerusform>All time; not counting %n skipped this time</numerusform>
            <numerusform>All time; not counting %n skipped this time</numerusform>
        </translation>
    </message>
    <message>
        <source>已压缩照片</source>
        <translation>Photos compressed</translation>
    </message>
    <message>
        <source>已节省的字节数 ÷ 这些照片原来的字节数</source>
        <translation>Bytes saved ÷ the original bytes of those photos</translation>
    </message>
    <message>
        <source>所有已压缩照片合计</source>
        <translation>Across all photos compressed</translation>
    </message>
    <message>
        <source>不含旧版本记录的照片</source>
        <translation>Photos recorded by older versions left out</translation>
    </message>
</context>
<context>
    <name>StatusIsland</name>
    <message>
        <source>正在处理</source>
        <translation>Converting</translation>
    </message>
    <message>
        <source>不到 1 分钟</source>
        <translation>under 1 min</translation>
    </message>
    <message>
        <source>约 %1 分钟</source>
        <translation>about %1 min</translation>
    </message>
    <message>
        <source>约 %1 小时</source>
        <translation>about %1 h</translation>
    </message>
    <message>
        <source>约 %1 小时 %2 分钟</source>
        <translation>about %1 h %2 min</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>未检测到 cjxl 编码器</source>
        <translation>cjxl encoder not found</translation>
    </message>
    <message>
        <source>未检测到 djxl 解码器</source>
        <translation>djxl decoder not found</translation>
    </message>
    <message>
        <source>已节省 %1</source>
        <translation>%1 saved</translation>
    </message>
    <message numerus="yes">
        <source>%n 个项目</source>
        <translation>
            <numerusform>%n item</numerusform>
            <numerusform>%n items</numerusform>
        </translation>
    </message>
    <message>
        <source>请安装 libjxl-tools (sudo apt install libjxl-tools)，或点击此处在设置中指定 %1 的路径</source>
        <translation>Install libjxl-tools (sudo apt install libjxl-tools), or click here to set the path of %1 in the settings</translation>
    </message>
    <message numerus="yes">
        <source>已跳过 %n 项</source>
        <translation>
            <numerusform>%n skipped</numerusform>
            <numerusform>%n skipped</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n 项转换后不会更小</source>
        <translation>
            <numerusform>%n not smaller</numerusform>
            <numerusform>%n not smaller</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>TaskRowActions</name>
    <message>
        <source>%1：%2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>快速查看(&amp;Q)</source>
        <translation>&amp;Quick View</translation>
    </message>
    <message>
        <source>用默认程序打开(&amp;O)</source>
        <translation>&amp;Open with Default App</translation>
    </message>
    <message>
        <source>在文件管理器中显示(&amp;S)</source>
        <translation>&amp;Show in File Manager</translation>
    </message>
    <message>
        <source>拷贝文件路径(&amp;P)</source>
        <translation>Copy File &amp;Path</translation>
    </message>
    <message>
        <source>复制错误信息(&amp;E)</source>
        <translation>Copy &amp;Error Message</translation>
    </message>
    <message>
        <source>重新尝试此项目(&amp;R)</source>
        <translation>&amp;Retry This Item</translation>
    </message>
    <message numerus="yes">
        <source>从列表中移除 %n 个选中项(&amp;M)</source>
        <translation>
            <numerusform>Re&amp;move %n Selected Item from List</numerusform>
            <numerusform>Re&amp;move %n Selected Items from List</numerusform>
        </translation>
    </message>
    <message>
        <source>从列表中移除(&amp;M)</source>
        <translation>Re&amp;move from List</translation>
    </message>
</context>
<context>
    <name>TaskRowDelegate</name>
    <message>
        <source>在文件管理器中显示</source>
        <translation>Show in File Manager</translation>
    </message>
</context>
<context>
    <name>TaskTableModel</name>
    <message>
        <source>就绪</source>
        <translation>Ready</translation>
    </message>
    <message>
        <source>正在瘦身…</source>
        <translation>Compressing…</translation>
    </message>
    <message>
        <source>正在还原…</source>
        <translation>Restoring…</translation>
    </message>
    <message>
        <source>正在校验…</source>
        <translation>Verifying…</translation>
    </message>
    <message>
        <source>已完成</source>
        <translation>Done</translation>
    </message>
    <message>
        <source>未能完成</source>
        <translation>Failed</translation>
    </message>
    <message>
        <source>已跳过</source>
        <translation>Skipped</translation>
    </message>
    <message>
        <source>未知错误</source>
        <translation>Unknown error</translation>
    </message>
    <message>
        <source>名称</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>原始大小</source>
        <translation>Original</translation>
    </message>
    <message>
        <source>还原后大小</source>
        <translation>Restored</translation>
    </message>
    <message>
        <source>压缩后大小</source>
        <translation>Compressed</translation>
    </message>
    <message>
        <source>复原效果</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>节省幅度</source>
        <translation>Savings</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>100% 完整复原</source>
        <translation>Identical</translation>
    </message>
    <message>
        <source>已复原（未校验）</source>
        <translation>Restored (not verified)</translation>
    </message>
    <message>
        <source>输出为 %1</source>
        <translation>Written as %1</translation>
    </message>
    <message>
        <source>此照片已转换过，输出文件已存在：%1</source>
        <translation>This photo was already converted; the output exists: %1</translation>
    </message>
    <message>
        <source>此文件已还原过，输出文件已存在：%1</source>
        <translation>This file was already restored; the output exists: %1</translation>
    </message>
    <message>
        <source>沿用前一次转换的输出，已验证无损：%1</source>
        <translation>Kept the output of an earlier conversion, verified lossless: %1</translation>
    </message>
    <message>
        <source>沿用前一次还原的输出，校验一致：%1</source>
        <translation>Kept the output of an earlier restore, digest matches: %1</translation>
    </message>
    <message>
        <source>转换后不会更小，已保留原 JPEG</source>
        <translation>Would not be smaller as JXL; the JPEG is kept</translation>
    </message>
    <message>
        <source>请将文件重命名后再导入</source>
        <translation>Rename the file, then import it again</translation>
    </message>
    <message>
        <source>无法读取文件大小</source>
        <translation>The file size could not be read</translation>
    </message>
    <message>
        <source>%1，位于 %2</source>
        <translation>%1, in %2</translation>
    </message>
</context>
<context>
    <name>TaskTableView</name>
    <message>
        <source>照片列表</source>
        <translation>Photo list</translation>
    </message>
    <message>
        <source>无法在文件管理器中显示</source>
        <translation>Cannot Show in File Manager</translation>
    </message>
</context>
<context>
    <name>ToolRun</name>
    <message>
        <source>未知错误</source>
        <translation>Unknown error</translation>
    </message>
    <message>
        <source>不是普通文件</source>
        <translation>Not a regular file</translation>
    </message>
    <message>
        <source>磁盘空间已满，无法写入 %1</source>
        <translation>The disk is full; cannot write to %1</translation>
    </message>
</context>
<context>
    <name>ToolStatus</name>
    <message>
        <source>未安装 (通过 APT: sudo apt install libjxl-tools)</source>
        <translation>Not installed (with APT: sudo apt install libjxl-tools)</translation>
    </message>
</context>
<context>
    <name>Trash</name>
    <message>
        <source>无法将“%1”移至回收站：%2</source>
        <translation>Cannot move “%1” to the Trash: %2</translation>
    </message>
    <message>
        <source>无法确定所在的卷</source>
        <translation>Cannot tell which volume it is on</translation>
    </message>
    <message>
        <source>该卷上没有可用的回收站</source>
        <translation>This volume has no usable Trash</translation>
    </message>
</context>
<context>
    <name>UpdateManager</name>
    <message>
        <source>无更新日志</source>
        <translation>No release notes</translation>
    </message>
    <message>
        <source>修复若干已知问题，带来更流畅的转码体验。</source>
        <translation>Fixes several known problems for smoother converting.</translation>
    </message>
    <message>
        <source>无法识别的更新数据结构</source>
        <translation>The update data has an unknown structure</translation>
    </message>
    <message>
        <source>服务器把请求转向了不安全的 HTTP 地址，已拒绝</source>
        <translation>The server redirected to an insecure HTTP address; refused</translation>
    </message>
    <message>
        <source>连接超时，服务器长时间没有响应</source>
        <translation>Timed out: the server did not answer</translation>
    </message>
    <message>
        <source>没有可用的更新源</source>
        <translation>No update feed available</translation>
    </message>
    <message>
        <source>服务器返回了无效的响应</source>
        <translation>The server sent an invalid response</translation>
    </message>
    <message>
        <source>找不到更新服务器，请检查网络连接</source>
        <translation>Cannot find the update server; check the network connection</translation>
    </message>
    <message>
        <source>无法连接到更新服务器，请检查网络连接</source>
        <translation>Cannot reach the update server; check the network connection</translation>
    </message>
    <message>
        <source>无法与更新服务器建立安全连接 (TLS)</source>
        <translation>Cannot set up a secure connection (TLS) to the update server</translation>
    </message>
    <message>
        <source>无法通过代理服务器连接，请检查代理设置</source>
        <translation>Cannot connect through the proxy server; check the proxy settings</translation>
    </message>
    <message>
        <source>%1 (%2)</source>
        <translation>%1 (%2)</translation>
    </message>
    <message>
        <source>无法解析更新数据：%1</source>
        <translation>Cannot read the update data: %1</translation>
    </message>
    <message>
        <source>服务器返回错误码：HTTP %1</source>
        <translation>The server answered with an error: HTTP %1</translation>
    </message>
    <message>
        <source>下载地址未使用 HTTPS 加密连接，已拒绝：%1</source>
        <translation>The download address does not use HTTPS; refused: %1</translation>
    </message>
    <message>
        <source>无效的更新源地址：%1</source>
        <translation>Invalid update feed address: %1</translation>
    </message>
    <message>
        <source>下载更新包失败：%1</source>
        <translation>Downloading the update failed: %1</translation>
    </message>
    <message>
        <source>保存安装包至下载文件夹失败：%1</source>
        <translation>Saving the package to the Downloads folder failed: %1</translation>
    </message>
    <message>
        <source>已有同名文件夹：%1</source>
        <translation>A folder of that name exists: %1</translation>
    </message>
</context>
<context>
    <name>UpdateSheet</name>
    <message>
        <source>软件更新</source>
        <translation>Software Update</translation>
    </message>
    <message>
        <source>发现新版本</source>
        <translation>A New Version Is Available</translation>
    </message>
    <message>
        <source>当前版本: v%1 · 建议更新以获得最佳体验</source>
        <translation>Current version: v%1 · Updating is recommended</translation>
    </message>
    <message>
        <source>更新内容：</source>
        <translation>What’s new:</translation>
    </message>
    <message>
        <source>更新内容</source>
        <translation>What’s new</translation>
    </message>
    <message>
        <source>下载进度</source>
        <translation>Download progress</translation>
    </message>
    <message>
        <source>在浏览器中打开</source>
        <translation>Open in Browser</translation>
    </message>
    <message>
        <source>稍后提醒</source>
        <translation>Remind Me Later</translation>
    </message>
    <message>
        <source>立即更新并下载</source>
        <translation>Download Update</translation>
    </message>
    <message>
        <source>取消下载</source>
        <translation>Cancel Download</translation>
    </message>
    <message>
        <source>在文件管理器中显示</source>
        <translation>Show in File Manager</translation>
    </message>
    <message>
        <source>完成</source>
        <translation>Done</translation>
    </message>
    <message>
        <source>修复若干已知问题，优化转码性能与稳定性。</source>
        <translation>Fixes several known problems and improves speed and stability.</translation>
    </message>
    <message>
        <source>此版本没有适用于本机的安装包，将打开它的发布页面</source>
        <translation>This release has no package for this computer; its release page will open</translation>
    </message>
    <message>
        <source>正在下载更新包… %1%</source>
        <translation>Downloading the update… %1%</translation>
    </message>
</context>
<context>
    <name>UpdateTexts</name>
    <message>
        <source>尚未检查更新</source>
        <translation>Not checked yet</translation>
    </message>
    <message>
        <source>正在连接 GitLab 检查更新…</source>
        <translation>Checking GitLab for updates…</translation>
    </message>
    <message>
        <source>当前已是最新版本 (v%1)</source>
        <translation>Pikora is up to date (v%1)</translation>
    </message>
    <message>
        <source>发现新版本 v%1</source>
        <translation>New version v%1 available</translation>
    </message>
    <message>
        <source>下载中 %1%…</source>
        <translation>Downloading %1%…</translation>
    </message>
    <message>
        <source>安装包已下载到「下载」文件夹</source>
        <translation>The package is in your Downloads folder</translation>
    </message>
    <message>
        <source>用软件安装器打开它，或在它所在的文件夹中运行 sudo apt install ./%1 完成升级。</source>
        <translation>Open it with your software installer, or run sudo apt install ./%1 in its folder to upgrade.</translation>
    </message>
    <message>
        <source>为它加上执行权限（chmod +x %1）后直接运行新版，即可完成升级。</source>
        <translation>Make it executable (chmod +x %1) and run the new version to upgrade.</translation>
    </message>
    <message>
        <source>按发布页面的说明安装 %1 即可完成升级。</source>
        <translation>Install %1 as its release page describes to upgrade.</translation>
    </message>
    <message>
        <source>上次检查时间：%1</source>
        <translation>Last checked: %1</translation>
    </message>
</context>
<context>
    <name>Verifier</name>
    <message>
        <source>未能生成校验临时文件</source>
        <translation>Could not create the temporary file for verification</translation>
    </message>
    <message>
        <source>无法读取文件属性</source>
        <translation>Cannot read the file attributes</translation>
    </message>
    <message>
        <source>哈希比对不一致 (原文件: %1..., 还原: %2...)</source>
        <translation>Checksums differ (original: %1..., restored: %2...)</translation>
    </message>
    <message>
        <source>还原出的 JPEG 与压缩时记录的原文件不一致 (记录: %1..., 还原: %2...)，JXL 文件可能已损坏</source>
        <translation>The restored JPEG differs from the original recorded at compression (recorded: %1..., restored: %2...); the JXL file may be damaged</translation>
    </message>
</context>
<context>
    <name>WatchAutostart</name>
    <message>
        <source>没有要自动转换的文件夹</source>
        <translation>There is no folder to convert automatically</translation>
    </message>
    <message>
        <source>找不到 pikora-cli</source>
        <translation>pikora-cli cannot be found</translation>
    </message>
    <message>
        <source>无法创建文件夹“%1”：%2</source>
        <translation>Cannot create folder “%1”: %2</translation>
    </message>
    <message>
        <source>无法写入“%1”：%2</source>
        <translation>Cannot write “%1”: %2</translation>
    </message>
    <message>
        <source>无法删除“%1”：%2</source>
        <translation>Cannot delete “%1”: %2</translation>
    </message>
</context>
<context>
    <name>formattedBytes</name>
    <message numerus="yes">
        <source>%Ln 字节</source>
        <translation>
            <numerusform>%Ln byte</numerusform>
            <numerusform>%Ln bytes</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>为 JPEG XL 照片生成 PNG 缩略图：方向已摆正，最长边不超过 SIZE 像素。</source>
        <translation>Writes a PNG thumbnail of a JPEG XL photo, upright, its longest side at most SIZE pixels.</translation>
    </message>
    <message>
        <source>缩略图最长边的像素数（1 到 4096）。</source>
        <translation>Longest side of the thumbnail in pixels (1 to 4096).</translation>
    </message>
    <message>
        <source>JPEG XL 文件：路径或 file:// URI。</source>
        <translation>The JPEG XL file: a path or a file:// URI.</translation>
    </message>
    <message>
        <source>PNG 的写入位置。</source>
        <translation>Where the PNG is written.</translation>
    </message>
    <message>
        <source>用法：pikora-thumbnailer -s SIZE INPUT OUTPUT</source>
        <translation>Usage: pikora-thumbnailer -s SIZE INPUT OUTPUT</translation>
    </message>
    <message>
        <source>-s SIZE 必须是 1 到 4096 之间的数字</source>
        <translation>-s SIZE must be a number from 1 to 4096</translation>
    </message>
    <message>
        <source>需要 INPUT 和 OUTPUT 两个参数</source>
        <translation>expected INPUT and OUTPUT</translation>
    </message>
    <message>
        <source>不是本地文件：%1</source>
        <translation>not a local file: %1</translation>
    </message>
</context>
</TS>
