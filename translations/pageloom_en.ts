<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>pageloom::AgainQuestion</name>
    <message>
        <source>已下载过：%1（%2）。仍然下载？</source>
        <translation>Downloaded before: %1 (%2). Download it again?</translation>
    </message>
    <message>
        <source>%2话中有%1话已下载过。</source>
        <translation>%1 of %2 chapters were downloaded before.</translation>
    </message>
    <message>
        <source>只下载新的</source>
        <translation>Only the new ones</translation>
    </message>
    <message>
        <source>全部下载</source>
        <translation>All</translation>
    </message>
    <message>
        <source>都不下载</source>
        <translation>None</translation>
    </message>
</context>
<context>
    <name>pageloom::CAboutDlg</name>
    <message>
        <source>关于 pageLoom</source>
        <translation>About pageLoom</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>pageLoom，version %1</source>
        <translation>pageLoom, version %1</translation>
    </message>
</context>
<context>
    <name>pageloom::CoreTexts</name>
    <message>
        <source>无法打开任务队列文件，本次添加的任务不会被保存。</source>
        <translation>The task queue file cannot be opened; the tasks added in this run will not be kept.</translation>
    </message>
    <message>
        <source>pageLoom 已在运行。</source>
        <translation>pageLoom is already running.</translation>
    </message>
    <message>
        <source>本系统不能隔离页面脚本（不支持seccomp），无法读取DMZJ漫画的图片列表，这些章节将保持“准备中”。</source>
        <translation>This system cannot isolate page scripts (no seccomp), so the picture lists of DMZJ chapters cannot be read; those chapters stay Queued.</translation>
    </message>
    <message>
        <source>任务队列文件已损坏，已另存为：</source>
        <translation>The task queue file was damaged. It has been kept as: </translation>
    </message>
    <message>
        <source>无法打开文件夹：</source>
        <translation>Cannot open the folder: </translation>
    </message>
    <message>
        <source>10分钟内检查过，这次未检查：</source>
        <translation>Checked less than 10 minutes ago, not checked now: </translation>
    </message>
    <message>
        <source>无法打开下载记录，本次下载不会被记录：</source>
        <translation>The download record cannot be opened; the downloads of this run will not be recorded: </translation>
    </message>
    <message>
        <source>无法创建任务文件夹，任务未添加：</source>
        <translation>The task&apos;s folder could not be made; the task was not added: </translation>
    </message>
    <message>
        <source>文件路径过长，图片未保存：</source>
        <translation>The file&apos;s path is too long; the picture was not saved: </translation>
    </message>
    <message>
        <source>任务进度无法保存到任务队列文件，将在下一步重试：</source>
        <translation>The tasks&apos; progress cannot be saved to the task queue file; it will be tried again at the next step: </translation>
    </message>
    <message>
        <source>任务进度又能保存到任务队列文件了。</source>
        <translation>The tasks&apos; progress is being saved to the task queue file again.</translation>
    </message>
    <message>
        <source>无法创建数据文件夹或锁文件，本次添加的任务不会被保存：</source>
        <translation>The data folder or its lock file cannot be made; the tasks added in this run will not be kept: </translation>
    </message>
    <message>
        <source>未完成</source>
        <translation>Incomplete</translation>
    </message>
    <message>
        <source>请输入网址</source>
        <translation>Please enter an address.</translation>
    </message>
    <message>
        <source>暂时不支持该网站漫画下载</source>
        <translation>Comics of this site cannot be downloaded for now.</translation>
    </message>
    <message>
        <source>无效的目录，请重新选择</source>
        <translation>Invalid folder, please choose again.</translation>
    </message>
    <message>
        <source>请选择至少一行数据</source>
        <translation>Select at least one row.</translation>
    </message>
    <message>
        <source>创建EH下载线程失败</source>
        <translation>Could not start the EH download thread.</translation>
    </message>
    <message>
        <source>创建DMZJ下载线程失败</source>
        <translation>Could not start the DMZJ download thread.</translation>
    </message>
    <message>
        <source>已到达下载上限。请清空cookie，换IP后重试。</source>
        <translation>The download limit has been reached. Clear the cookies (right-click the window: Clear Cookies), change your IP address and try again.</translation>
    </message>
    <message>
        <source>解析网址失败，可能由于已经过了9点，需要登录才能下载。请到e绅士论坛注册并用ie登录后重试</source>
        <translation>Could not read the address. After 9 o&apos;clock the site may serve logged-in users only: register on the EH forums, log in with your browser, import its cookies (right-click the window: Import Cookies…) and try again.</translation>
    </message>
    <message>
        <source>请选择漫画下载目录：</source>
        <translation>Choose the folder to download comics into:</translation>
    </message>
    <message>
        <source>创建文件夹失败，请手动选择漫画保存文件夹：</source>
        <translation>Could not create the folder. Choose a folder to save the comic in:</translation>
    </message>
    <message>
        <source>准备中</source>
        <translation>Queued</translation>
    </message>
    <message>
        <source>准备中（无法安全运行页面脚本）</source>
        <translation>Queued (page scripts cannot run safely)</translation>
    </message>
    <message>
        <source>等待中</source>
        <translation>Waiting</translation>
    </message>
    <message>
        <source>下载中</source>
        <translation>Downloading</translation>
    </message>
    <message>
        <source>暂停中</source>
        <translation>Paused</translation>
    </message>
    <message>
        <source>已完成</source>
        <translation>Done</translation>
    </message>
    <message>
        <source>未知</source>
        <translation>Unknown</translation>
    </message>
    <message numerus="yes">
        <source>未完成，缺%n张</source>
        <translation>
            <numerusform>%n missing</numerusform>
            <numerusform>%n missing</numerusform>
        </translation>
    </message>
    <message>
        <source>超时</source>
        <translation>timed out</translation>
    </message>
    <message>
        <source>无法连接</source>
        <translation>no connection</translation>
    </message>
    <message>
        <source>证书或网址被拒绝</source>
        <translation>certificate or address refused</translation>
    </message>
    <message>
        <source>不是图片</source>
        <translation>not a picture</translation>
    </message>
    <message>
        <source>无法写入磁盘</source>
        <translation>cannot write to the disk</translation>
    </message>
    <message>
        <source>文件过大</source>
        <translation>too large</translation>
    </message>
    <message>
        <source>已取消</source>
        <translation>cancelled</translation>
    </message>
    <message>
        <source>传输中断</source>
        <translation>transfer broken off</translation>
    </message>
    <message>
        <source>无法解析页面</source>
        <translation>page not understood</translation>
    </message>
    <message>
        <source>已到达下载上限</source>
        <translation>download limit reached</translation>
    </message>
    <message>
        <source>原因不明</source>
        <translation>reason unknown</translation>
    </message>
    <message numerus="yes">
        <source>……另有%n张</source>
        <translation>
            <numerusform>… and %n more</numerusform>
            <numerusform>… and %n more</numerusform>
        </translation>
    </message>
    <message>
        <source>被封禁</source>
        <translation>banned</translation>
    </message>
    <message numerus="yes">
        <source>被封禁，%n分钟后重试</source>
        <translation>
            <numerusform>banned, retry in %n min</numerusform>
            <numerusform>banned, retry in %n min</numerusform>
        </translation>
    </message>
    <message>
        <source>%1：%2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>文件路径过长</source>
        <translation>path too long</translation>
    </message>
    <message>
        <source>文件夹不存在</source>
        <translation>no such folder</translation>
    </message>
    <message>
        <source>不是pageLoom的任务文件夹</source>
        <translation>not a task folder of pageLoom</translation>
    </message>
    <message>
        <source>还有图片正在下载</source>
        <translation>a picture is still being downloaded</translation>
    </message>
    <message>
        <source>文件夹里没有图片</source>
        <translation>no picture in the folder</translation>
    </message>
    <message>
        <source>任务未完成</source>
        <translation>the task has not finished</translation>
    </message>
    <message>
        <source>任务不存在</source>
        <translation>no such task</translation>
    </message>
    <message>
        <source>同名的CBZ属于其他来源，未覆盖</source>
        <translation>a CBZ of another source has that name; left as it is</translation>
    </message>
    <message>
        <source>另一个程序正在打包该文件夹</source>
        <translation>another program is packing the folder</translation>
    </message>
    <message>
        <source>打包CBZ失败</source>
        <translation>cannot write the CBZ</translation>
    </message>
    <message>
        <source>打包CBZ失败：无法命名</source>
        <translation>cannot give the CBZ its name</translation>
    </message>
    <message>
        <source>%1（进度未保存）</source>
        <translation>%1 (not saved)</translation>
    </message>
    <message>
        <source>这一步的进度无法保存到任务队列文件，将在下一步重试。</source>
        <translation>The progress of this step could not be saved to the queue file; it is tried again at the next step.</translation>
    </message>
</context>
<context>
    <name>pageloom::CpageLoomDlg</name>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>添加</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>浏览</source>
        <translation>Browse</translation>
    </message>
    <message>
        <source>开始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>暂停</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>继续</source>
        <translation>Continue</translation>
    </message>
    <message>
        <source>删除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>是否自动重命名文件</source>
        <translation>Rename files automatically</translation>
    </message>
    <message>
        <source>是否下载此话之后的漫画（仅适用于DMZJ）</source>
        <translation>Also download the later chapters (DMZJ only)</translation>
    </message>
    <message>
        <source>下载链接</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>保存路径</source>
        <translation>Save to</translation>
    </message>
    <message>
        <source>漫画列表</source>
        <translation>Comics</translation>
    </message>
    <message>
        <source>最小化(&amp;N)</source>
        <translation>Mi&amp;nimize</translation>
    </message>
    <message>
        <source>关闭(&amp;C)</source>
        <translation>&amp;Close</translation>
    </message>
    <message>
        <source>导入Cookies…</source>
        <translation>Import Cookies…</translation>
    </message>
    <message>
        <source>清除Cookies</source>
        <translation>Clear Cookies</translation>
    </message>
    <message>
        <source>添加后自动开始</source>
        <translation>Start after Add</translation>
    </message>
    <message>
        <source>请求间隔…</source>
        <translation>Request Interval…</translation>
    </message>
    <message>
        <source>请求间隔</source>
        <translation>Request Interval</translation>
    </message>
    <message>
        <source>同一网站两次请求之间等待的秒数（如 2，或 2-5 取其间随机值；0 为不等待）：</source>
        <translation>Seconds to wait between two requests to one site (e.g. 2, or 2-5 for a random time between them; 0 for no wait):</translation>
    </message>
    <message>
        <source>无效的请求间隔：%1</source>
        <translation>Not a valid request interval: %1</translation>
    </message>
    <message>
        <source>无法保存请求间隔设置</source>
        <translation>The request interval could not be saved for the next run.</translation>
    </message>
    <message>
        <source>关于 pageLoom(&amp;A)...</source>
        <translation>&amp;About pageLoom...</translation>
    </message>
    <message>
        <source>导入Cookies</source>
        <translation>Import Cookies</translation>
    </message>
    <message>
        <source>无法读取Cookies文件：%1</source>
        <translation>Cannot read the cookies file: %1</translation>
    </message>
    <message>
        <source>已导入 %1 条Cookies，跳过 %2 行。</source>
        <translation>Cookies imported: %1. Lines skipped: %2.</translation>
    </message>
    <message>
        <source>超出数量上限（每个域名%1条，共%2条），舍弃了 %3 条较旧的Cookies。</source>
        <translation>Over the limits (%1 a domain, %2 in all): %3 older cookies were dropped.</translation>
    </message>
    <message>
        <source>无法保存Cookies文件：%1</source>
        <translation>Cannot save the cookies file: %1</translation>
    </message>
    <message>
        <source>无法清除Cookies</source>
        <translation>Cannot clear the cookies.</translation>
    </message>
    <message>
        <source>Cookies已清除，但无法保存Cookies文件：%1</source>
        <translation>The cookies are cleared, but the cookies file cannot be saved: %1</translation>
    </message>
    <message>
        <source>Cookies已清除</source>
        <translation>The cookies are cleared.</translation>
    </message>
    <message>
        <source>Cookies文件 (*.txt);;所有文件 (*)</source>
        <translation>Cookies files (*.txt);;All files (*)</translation>
    </message>
    <message>
        <source>保存为CBZ</source>
        <translation>Save as CBZ</translation>
    </message>
    <message>
        <source>打包为CBZ</source>
        <translation>Pack as CBZ</translation>
    </message>
    <message>
        <source>已打包为CBZ：</source>
        <translation>Packed as CBZ: </translation>
    </message>
    <message>
        <source>CBZ已存在：</source>
        <translation>The CBZ is there already: </translation>
    </message>
    <message>
        <source>无法打包为CBZ：</source>
        <translation>Cannot pack as CBZ: </translation>
    </message>
    <message>
        <source>打开文件夹</source>
        <translation>Open Folder</translation>
    </message>
    <message>
        <source>复制地址</source>
        <translation>Copy Address</translation>
    </message>
    <message>
        <source>重试缺失图片</source>
        <translation>Retry Missing Pictures</translation>
    </message>
    <message>
        <source>暂停此任务</source>
        <translation>Pause This Task</translation>
    </message>
    <message>
        <source>继续此任务</source>
        <translation>Continue This Task</translation>
    </message>
    <message>
        <source>清除已完成</source>
        <translation>Clear Finished</translation>
    </message>
    <message>
        <source>上移</source>
        <translation>Move Up</translation>
    </message>
    <message>
        <source>下移</source>
        <translation>Move Down</translation>
    </message>
    <message>
        <source>置顶</source>
        <translation>Move to Top</translation>
    </message>
</context>
<context>
    <name>pageloom::StatusLine</name>
    <message>
        <source>等待 %1 · 下载中 %2 · 已完成 %3 · 缺图 %4 · 速度 %5/s · 本次已存 %6 张</source>
        <translation>waiting %1 · running %2 · done %3 · missing pictures %4 · speed %5/s · stored this run %6</translation>
    </message>
</context>
<context>
    <name>pageloom::SeriesUpdates</name>
    <message>
        <source>检查更新</source>
        <translation>Check for Updates</translation>
    </message>
    <message>
        <source>自动检查更新</source>
        <translation>Check for Updates Automatically</translation>
    </message>
    <message>
        <source>关注的漫画…</source>
        <translation>Followed Comics…</translation>
    </message>
    <message>
        <source>关注的漫画</source>
        <translation>Followed Comics</translation>
    </message>
    <message>
        <source>未检查</source>
        <translation>not yet</translation>
    </message>
    <message>
        <source>漫画</source>
        <translation>Comic</translation>
    </message>
    <message>
        <source>最后一话</source>
        <translation>Last chapter</translation>
    </message>
    <message>
        <source>上次检查</source>
        <translation>Last check</translation>
    </message>
    <message>
        <source>新章节</source>
        <translation>New chapters</translation>
    </message>
    <message>
        <source>取消关注</source>
        <translation>Unfollow</translation>
    </message>
</context>
<context>
    <name>pageloom::TaskTableModel</name>
    <message>
        <source>编号</source>
        <translation>No.</translation>
    </message>
    <message>
        <source>名称</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>进度</source>
        <translation>Progress</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>Status</translation>
    </message>
</context>
<context>
    <name>pageloom::TrayNotifier</name>
    <message>
        <source>任务 %1 已完成</source>
        <translation>Task %1 is done.</translation>
    </message>
    <message numerus="yes">
        <source>任务 %1 已结束，缺 %n 张图片</source>
        <translation>
            <numerusform>Task %1 has ended with %n picture missing.</numerusform>
            <numerusform>Task %1 has ended with %n pictures missing.</numerusform>
        </translation>
    </message>
    <message>
        <source>%1：%2个新章节</source>
        <translation>%1: %2 new chapters</translation>
    </message>
    <message>
        <source>下载队列已全部完成</source>
        <translation>The download queue is done.</translation>
    </message>
    <message numerus="yes">
        <source>下载队列已结束，%n 个任务未完成</source>
        <translation>
            <numerusform>The download queue has ended; %n task is unfinished.</numerusform>
            <numerusform>The download queue has ended; %n tasks are unfinished.</numerusform>
        </translation>
    </message>
    <message>
        <source>显示窗口</source>
        <translation>Show Window</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Quit</translation>
    </message>
</context>
</TS>
