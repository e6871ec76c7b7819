#!/usr/bin/env python3
"""Writes a browser bookmarks export (Netscape bookmark file) for measuring the program.

The file is what the program opens: code page 936 (GBK) bytes with nested folders, Chinese and
English titles, base64 favicons of realistic size on many entries, Firefox-style ICON_URI and
<DD> notes on some, addresses inside titles, and entries whose address has no "scheme://" part
(bookmarklets, mailto:, bare host names). The same seed and size give the same bytes.

  gen-bookmarks.py --count 20000 -o bookmarks-20k.html     # by number of bookmarks
  gen-bookmarks.py --mb 400 -o bookmarks-400mb.html        # by size, for huge files

A U+3000 space never follows an address here: the system engine takes it for white space and
byte-wise tools do not, and the counts of both must agree on these files.
"""
import argparse
import base64
import bisect
import random
import struct
import sys
import zlib

POPULAR = [
    ("www.baidu.com", "百度"), ("www.zhihu.com", "知乎"), ("www.bilibili.com", "哔哩哔哩"),
    ("www.taobao.com", "淘宝网"), ("www.jd.com", "京东"), ("weibo.com", "微博"),
    ("www.douban.com", "豆瓣"), ("blog.csdn.net", "CSDN博客"), ("github.com", "GitHub"),
    ("stackoverflow.com", "Stack Overflow"), ("www.cnblogs.com", "博客园"),
    ("juejin.cn", "稀土掘金"), ("www.qq.com", "腾讯网"), ("news.163.com", "网易新闻"),
    ("www.sina.com.cn", "新浪网"), ("www.sohu.com", "搜狐"), ("www.ifeng.com", "凤凰网"),
    ("www.xinhuanet.com", "新华网"), ("www.people.com.cn", "人民网"), ("www.gov.cn", "中国政府网"),
    ("www.tmall.com", "天猫"), ("www.aliyun.com", "阿里云"), ("cloud.tencent.com", "腾讯云"),
    ("map.baidu.com", "百度地图"), ("mail.qq.com", "QQ邮箱"), ("mail.163.com", "网易邮箱"),
    ("www.12306.cn", "中国铁路12306"), ("www.ctrip.com", "携程旅行"), ("www.meituan.com", "美团"),
    ("www.dianping.com", "大众点评"), ("music.163.com", "网易云音乐"), ("y.qq.com", "QQ音乐"),
    ("v.qq.com", "腾讯视频"), ("www.iqiyi.com", "爱奇艺"), ("www.youku.com", "优酷"),
    ("tieba.baidu.com", "百度贴吧"), ("baike.baidu.com", "百度百科"), ("pan.baidu.com", "百度网盘"),
    ("www.runoob.com", "菜鸟教程"), ("developer.mozilla.org", "MDN Web Docs"),
    ("docs.python.org", "Python 文档"), ("en.cppreference.com", "cppreference.com"),
    ("learn.microsoft.com", "Microsoft Learn"), ("www.w3school.com.cn", "w3school 在线教程"),
    ("gitee.com", "Gitee"), ("www.oschina.net", "开源中国"), ("segmentfault.com", "思否"),
    ("www.jianshu.com", "简书"), ("www.36kr.com", "36氪"), ("www.huxiu.com", "虎嗅网"),
    ("www.cnki.net", "中国知网"), ("scholar.google.com", "Google 学术"),
    ("www.google.com", "Google"), ("www.youtube.com", "YouTube"), ("en.wikipedia.org", "Wikipedia"),
    ("zh.wikipedia.org", "维基百科"), ("www.amazon.cn", "亚马逊"), ("www.pinduoduo.com", "拼多多"),
    ("www.xiaohongshu.com", "小红书"), ("www.douyin.com", "抖音"), ("www.icbc.com.cn", "中国工商银行"),
    ("www.ccb.com", "中国建设银行"), ("www.cmbchina.com", "招商银行"), ("www.zhaopin.com", "智联招聘"),
    ("www.lagou.com", "拉勾招聘"), ("www.mafengwo.cn", "马蜂窝"), ("www.xiachufang.com", "下厨房"),
    ("www.dxy.cn", "丁香园"), ("www.chsi.com.cn", "学信网"), ("www.npmjs.com", "npm"),
    ("pypi.org", "PyPI"), ("hub.docker.com", "Docker Hub"), ("www.figma.com", "Figma"),
    ("www.zcool.com.cn", "站酷"), ("www.iconfont.cn", "iconfont-阿里巴巴矢量图标库"),
    ("arxiv.org", "arXiv"), ("leetcode.cn", "力扣"), ("www.nowcoder.com", "牛客网"),
]

TOPICS = [
    "Python", "C++", "Java", "JavaScript", "Rust", "Go", "Linux", "Docker", "Kubernetes", "MySQL",
    "Redis", "Vue", "React", "Spring Boot", "Git", "正则表达式", "机器学习", "深度学习", "数据结构",
    "算法", "操作系统", "计算机网络", "编译原理", "线性代数", "概率论", "高等数学", "英语四级", "考研",
    "公务员考试", "理财", "基金", "股票", "房贷", "装修", "育儿", "健身", "减肥", "菜谱", "红烧肉",
    "旅游攻略", "云南", "西藏", "日本", "签证", "护照", "摄影", "单反", "手机评测", "笔记本电脑",
    "显卡", "键盘", "耳机", "电影", "纪录片", "动漫", "小说", "历史", "三国", "唐诗", "宋词", "书法",
    "围棋", "象棋", "吉他", "钢琴", "设计", "字体", "配色", "图标", "简历", "面试", "办公软件",
    "Excel 函数", "PPT 模板", "Word 排版", "Windows 10", "WPS", "VBScript", "COM 组件", "Win32 API",
]
PHRASES = [
    "入门教程", "从零开始", "完全指南", "学习笔记", "常见问题", "最佳实践", "详解", "源码分析",
    "性能优化", "踩坑记录", "官方文档", "下载地址", "安装配置", "使用技巧", "面试题汇总", "视频教程",
    "经验分享", "推荐清单", "对比评测", "新手必看", "进阶", "实战项目", "原理剖析", "速查表",
    "一篇就够了", "十分钟上手", "全攻略", "避坑指南", "年度总结", "问答", "讨论", "资料合集",
]
QUESTIONS = [
    "如何评价", "怎样才能学好", "为什么", "有哪些值得推荐的", "哪里可以找到", "是什么体验",
    "应该怎么选择", "有什么区别", "值得买吗", "怎么解决",
]
ENGLISH = [
    "Getting started", "Reference", "Release notes", "API documentation", "Tutorial", "FAQ",
    "Issue tracker", "Design notes", "Benchmarks", "Changelog", "Cheat sheet", "Home",
]
FOLDERS = [
    "学习资料", "工作", "常用网站", "技术文档", "购物", "新闻", "视频", "音乐", "旅游", "设计素材",
    "工具", "读书", "编程", "前端", "后端", "数据库", "机器学习", "论文", "政务", "银行", "游戏",
    "菜谱", "健康", "育儿", "临时", "稍后阅读", "导入的书签", "项目", "参考", "博客", "开源",
    "Reading list", "Dev", "Archive", "2019", "2020", "2021", "2022", "2023", "旧书签",
]
NOTES = ["以后再看", "很有用", "备用链接", "同事推荐", "收藏备查", "写得很好", "需要登录", "资料汇总"]
WORDS = ["app", "data", "cloud", "open", "tech", "shop", "news", "blog", "wiki", "star", "zone",
         "hub", "lab", "link", "soft", "net", "info", "learn", "dev", "home", "mall", "game"]
TLDS = [".com", ".cn", ".com.cn", ".net", ".org", ".io", ".net.cn", ".top", ".edu.cn", ".gov.cn"]
ALNUM = "abcdefghijklmnopqrstuvwxyz0123456789"
B58 = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"


def png(rng):
    """A favicon as PNG bytes: a simple shape over transparency, with more or less noise."""
    side = rng.choice((16, 16, 16, 32))
    noise = rng.choice((0.05, 0.1, 0.2, 0.3, 0.5) if side == 16 else (0.0, 0.05, 0.1, 0.2, 0.3))
    fg = bytes((rng.randrange(256), rng.randrange(256), rng.randrange(256), 255))
    bg = rng.choice((b"\0\0\0\0", b"\xff\xff\xff\xff", bytes((*fg[:3], 64))))
    r2 = (side * rng.uniform(0.3, 0.5)) ** 2
    c = side / 2 - 0.5
    raw = bytearray()
    for y in range(side):
        raw.append(0)
        for x in range(side):
            if rng.random() < noise:
                raw += bytes((rng.randrange(256), rng.randrange(256), rng.randrange(256), 255))
            else:
                raw += fg if (x - c) ** 2 + (y - c) ** 2 <= r2 else bg

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


class Site:
    def __init__(self, host, name, rng):
        self.host = host
        self.name = name
        self.https = rng.random() < 0.85
        self.icon = None
        if rng.random() < 0.7:
            self.icon = "data:image/png;base64," + base64.b64encode(png(rng)).decode("ascii")


class Generator:
    def __init__(self, seed):
        self.rng = rng = random.Random(seed)
        self.sites = [Site(h, n, rng) for h, n in POPULAR]
        for _ in range(3000):  # the long tail: sites bookmarked once or twice
            host = ("www." if rng.random() < 0.6 else "") + rng.choice(WORDS) + \
                "".join(rng.choice(ALNUM) for _ in range(rng.randint(2, 8))) + rng.choice(TLDS)
            self.sites.append(Site(host, rng.choice(TOPICS) + rng.choice(("网", "之家", "社区", "在线", "")), rng))
        # A few sites take most bookmarks.
        self.cumulative = []
        total = 0.0
        for rank in range(len(self.sites)):
            total += 1.0 / (rank + 1) ** 0.9
            self.cumulative.append(total)
        self.date = 1262304000 + rng.randrange(86400 * 365)  # some time in 2010
        self.bookmarks = 0

    def site(self):
        r = self.rng.random() * self.cumulative[-1]
        return self.sites[bisect.bisect_left(self.cumulative, r)]

    def next_date(self):
        self.date += self.rng.randrange(1, 86400 * 3)
        return self.date

    def path(self, site):
        rng = self.rng
        k = rng.randrange(12)
        if k == 0:
            return "/"
        if k == 1:
            return f"/question/{rng.randrange(10**8, 10**9)}"
        if k == 2:
            return "/video/BV1" + "".join(rng.choice(B58) for _ in range(9)) + f"?spm_id_from=333.{rng.randrange(1000)}"
        if k == 3:
            return f"/article/details/{rng.randrange(10**8, 10**9)}"
        if k == 4:
            return f"/item.htm?id={rng.randrange(10**11, 10**12)}&amp;ali_refid=a3_{rng.randrange(10**6)}"
        if k == 5:
            q = rng.choice(TOPICS) + rng.choice(PHRASES)
            return "/s?wd=" + q.replace(" ", "+") + "&amp;ie=gbk"  # raw GBK in the query, as some sites keep it
        if k == 6:
            return "/" + "/".join(rng.choice(WORDS) for _ in range(rng.randint(1, 4))) + rng.choice((".html", "/", ".htm", ""))
        if k == 7:
            return f"/p/{rng.randrange(10**5, 10**8)}"
        if k == 8:
            return "/" + rng.choice(WORDS) + "/" + "".join(rng.choice(ALNUM) for _ in range(rng.randint(6, 30)))
        if k == 9:
            return f"/subject/{rng.randrange(10**6, 10**8)}/"
        if k == 10:
            utm = "&amp;utm_source=wechat&amp;utm_medium=social" if rng.random() < 0.5 else ""
            return f"/news/{rng.randrange(2015, 2025)}/{rng.randrange(1, 13):02d}/{rng.randrange(10**5, 10**7)}.shtml?from=timeline{utm}"
        return "/" + rng.choice(WORDS) + "#" + rng.choice(WORDS) + str(rng.randrange(100))

    def title(self, site, url):
        rng = self.rng
        k = rng.randrange(40)
        if k == 0:
            return url  # a page without a title is saved under its address
        if k == 1:
            return f"{rng.choice(TOPICS)}{rng.choice(PHRASES)}（见 {url} ）"
        if k < 8:
            return f"{rng.choice(QUESTIONS)}{rng.choice(TOPICS)}？ - {site.name}"
        if k < 12:
            return f"【{rng.choice(TOPICS)}】{rng.choice(PHRASES)}_{site.name}"
        if k < 15:
            return f"{site.name} - {rng.choice(ENGLISH)}"
        if k < 17:
            return f"{rng.choice(TOPICS)}　{rng.choice(PHRASES)}"  # U+3000, never after an address
        if k < 19:
            return f"GitHub - {rng.choice(WORDS)}/{rng.choice(WORDS)}{rng.randrange(100)}: {rng.choice(ENGLISH)} &amp; {rng.choice(PHRASES)}"
        return f"{rng.choice(TOPICS)}{rng.choice(PHRASES)} - {site.name}"

    def href(self, site):
        rng = self.rng
        k = rng.randrange(200)
        if k == 0:
            return "javascript:void(window.open('https://service.weibo.com/share/share.php?url='+encodeURIComponent(location.href)))"
        if k == 1:
            return "javascript:(function(){var s=document.createElement('script');s.src='//cdn.example.cn/b.js';document.body.appendChild(s)})()"
        if k == 2:
            return "mailto:" + rng.choice(WORDS) + str(rng.randrange(1000)) + "@qq.com"
        if k == 3:
            return site.host + self.path(site)  # typed without a scheme
        if k == 4:
            return rng.choice(("about:blank", "about:config", "place:sort=8&amp;maxResults=10"))
        if k == 5:
            return rng.choice(("chrome://settings/", "chrome://extensions/", "edge://flags/", "view-source:https://" + site.host + "/"))
        if k == 6:
            return f"file:///C:/Users/Admin/Documents/{rng.choice(FOLDERS)}/{rng.choice(TOPICS)}.pdf"
        if k == 7:
            return f"ftp://ftp.{site.host.removeprefix('www.')}/pub/{rng.choice(WORDS)}/"
        return ("https://" if site.https else "http://") + site.host + self.path(site)

    def bookmark(self, indent):
        rng = self.rng
        site = self.site()
        url = self.href(site)
        attrs = f' HREF="{url}" ADD_DATE="{self.next_date()}"'
        if rng.random() < 0.15:
            attrs += f' LAST_MODIFIED="{self.date + rng.randrange(86400 * 30)}"'
        if site.icon and rng.random() < 0.95:
            if rng.random() < 0.2:
                attrs += f' ICON_URI="https://{site.host}/favicon.ico"'
            attrs += f' ICON="{site.icon}"'
        if rng.random() < 0.03:
            attrs += f' SHORTCUTURL="{rng.choice(WORDS)}" TAGS="{rng.choice(TOPICS)},{rng.choice(FOLDERS)}"'
        line = f"{indent}<DT><A{attrs}>{self.title(site, url)}</A>\n"
        if rng.random() < 0.04:
            line += f"{indent}<DD>{rng.choice(NOTES)}，{rng.choice(TOPICS)}{rng.choice(PHRASES)}\n"
        self.bookmarks += 1
        return line

    def folder_open(self, indent, name, extra=""):
        d = self.next_date()
        return (f'{indent}<DT><H3 ADD_DATE="{d}" LAST_MODIFIED="{d + self.rng.randrange(86400 * 400)}"{extra}>{name}</H3>\n'
                f"{indent}<DL><p>\n")

    def write(self, out, count=None, size=None):
        rng = self.rng
        head = ("<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
                "<!-- This is an automatically generated file.\n"
                "     It will be read and overwritten.\n"
                "     DO NOT EDIT! -->\n"
                '<META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=GBK">\n'
                "<TITLE>Bookmarks</TITLE>\n"
                "<H1>Bookmarks</H1>\n"
                "<DL><p>\n")
        written = 0
        chunk = [head]
        chunk_len = 0

        def flush():
            nonlocal written, chunk, chunk_len
            data = "".join(chunk).encode("gbk")
            out.write(data)
            written += len(data)
            chunk, chunk_len = [], 0

        def done():
            if count is not None:
                return self.bookmarks >= count
            return written + chunk_len * 1.1 >= size  # GBK is a little longer than the str

        tops = [("书签栏", ' PERSONAL_TOOLBAR_FOLDER="true"'), ("其他书签", ""), ("移动设备书签", "")]
        top = 0
        depth = 0  # folders open below the current top-level one
        while not done():
            if depth == 0 and (top == 0 or (top < len(tops) and rng.random() < 0.002)):
                if top:
                    chunk.append("    </DL><p>\n")
                chunk.append(self.folder_open("    ", *tops[top]))
                top += 1
                depth = 0
            r = rng.random()
            indent = "    " * (depth + 2)
            if r < 0.03 and depth < 5:
                chunk.append(self.folder_open(indent, rng.choice(FOLDERS)))
                depth += 1
            elif r < 0.06 and depth > 0:
                depth -= 1
                chunk.append("    " * (depth + 2) + "</DL><p>\n")
            else:
                line = self.bookmark(indent)
                chunk.append(line)
                chunk_len += len(line)
            if chunk_len > 1 << 20:
                flush()
        for level in range(depth, 0, -1):
            chunk.append("    " * (level + 1) + "</DL><p>\n")
        chunk.append("    </DL><p>\n</DL><p>\n")
        flush()
        return written


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    size = parser.add_mutually_exclusive_group(required=True)
    size.add_argument("--count", type=int, help="number of bookmarks")
    size.add_argument("--mb", type=float, help="target size in MB (2^20 bytes)")
    parser.add_argument("--seed", type=int, default=936)
    parser.add_argument("-o", "--output", required=True)
    args = parser.parse_args()
    gen = Generator(args.seed)
    with open(args.output, "wb") as out:
        written = gen.write(out, count=args.count,
                            size=None if args.count is not None else args.mb * (1 << 20))
    print(f"{args.output}: {gen.bookmarks} bookmarks, {written / (1 << 20):.1f} MB", file=sys.stderr)


if __name__ == "__main__":
    main()
